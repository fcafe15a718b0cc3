// The run log's file on POSIX: O_APPEND makes each whole write land at the end, in one piece.
#include <fcntl.h>
#include <sys/utsname.h>
#include <unistd.h>

#include "production/run_log_file.h"

int OpenAppendFile(const char* path) { return open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644); }

int AppendWhole(int file, const char* text, size_t size) {
    return write(file, text, size) == ssize_t(size);
}

std::string HostName() {
    struct utsname names {};
    return uname(&names) == 0 ? names.nodename : "";
}
