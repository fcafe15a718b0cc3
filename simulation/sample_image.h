// The built-in sample image of tavboot demo.
#pragma once

extern const char kSampleImageName[];
extern const char kSampleImageText[];
