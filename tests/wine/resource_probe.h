// The resources linked into tavboot-gui.exe, read from the file: icon, menu and the port dialog template.
#pragma once

// Checks icon 101, menu 102 and dialog 103, and their language, through Expect.
void CheckGuiResources(const char* exe_path);
