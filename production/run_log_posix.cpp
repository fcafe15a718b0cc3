// The run log's file on POSIX: O_APPEND makes each whole write land at the end, in one piece.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "production/run_log_file.h"

// A FIFO without a reader would block the open for ever, a device or a folder takes no
// records: only a regular file is a log, and the open never waits.
int OpenAppendFile(const char* path) {
    struct stat facts {};
    if (stat(path, &facts) == 0 && !S_ISREG(facts.st_mode)) return kNotARegularFile;
    const int file = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
    if (file < 0) return errno == ENXIO ? kNotARegularFile : -1;
    if (fstat(file, &facts) != 0 || !S_ISREG(facts.st_mode)) {
        close(file);
        return kNotARegularFile;
    }
    fcntl(file, F_SETFL, O_APPEND);
    return file;
}

// A short write (a full file system, a size limit) is continued; when the rest cannot be
// written, the part already written is cut off again, so that no record ever follows a broken line.
int AppendWhole(int file, const char* text, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t put = write(file, text + done, size - done);
        if (put > 0) done += size_t(put);
        else if (put == 0) errno = ENOSPC;
        if (put <= 0 && errno != EINTR) break;
    }
    if (done == size) return 1;
    const int error = errno;
    struct stat facts {};
    const off_t end = lseek(file, 0, SEEK_CUR);
    // Only when nothing of another process came after the part.
    if (done > 0 && end >= off_t(done) && fstat(file, &facts) == 0 && facts.st_size == end) {
        const int ignored = ftruncate(file, end - off_t(done));
        (void)ignored;
    }
    errno = error;
    return 0;
}

std::string HostName() {
    struct utsname names {};
    return uname(&names) == 0 ? names.nodename : "";
}

std::string UserName() {
    for (const char* variable : {"USER", "LOGNAME"}) {
        const char* name = std::getenv(variable);
        if (name && *name) return name;
    }
    return "";
}
