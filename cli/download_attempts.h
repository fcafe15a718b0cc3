// Downloads retried from the start after failures at the line, each port operation logged.
#pragma once
#include <string>

#include "cli/cli_commands.h"

// 1 when the box "<caption>: <text>" that ended a download reports a failure at the
// line that a second try may fix; 0 for a refusal that would only repeat itself
// (hardware mismatch, unlock key, port that cannot be opened, file).
int IsRetryableFailure(const std::string& box);

// Runs the download up to 1 + options.retries times, each from the start, while its
// failure is retryable; says "retry: ..." before each new attempt and appends one
// log record under operation. Returns the last attempt's exit status.
int DownloadWithRetries(const DeviceOptions& options, const std::string& file, const char* operation,
                        int* attempts);
