// Reading an image file whole on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "core/loader_state.h"
#include "image/image_file.h"

namespace {

// The bytes read, or 0 with the reason recorded.
int ReadAll(int fd, uint8_t* destination, off_t size) {
    off_t done = 0;
    while (done < size) {
        const ssize_t got = read(fd, destination + done, size_t(size - done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            g_loader.system_error = got < 0 ? errno : kFileChanged;
            return 0;
        }
        done += got;
    }
    if (size == 0) g_loader.system_error = kFileEmpty;
    return int(done);
}

// 1 for a regular file; otherwise 0 with the reason recorded.
int IsRegularFile(int fd, off_t* size) {
    struct stat info;
    if (fstat(fd, &info) != 0) g_loader.system_error = errno;
    else if (S_ISDIR(info.st_mode)) g_loader.system_error = kFileIsDirectory;
    else if (!S_ISREG(info.st_mode)) g_loader.system_error = kFileNotRegular;
    else *size = info.st_size;
    return g_loader.system_error == 0;
}

}  // namespace

int ReadWholeFile(const char* path, uint8_t* destination, int capacity) {
    g_loader.system_error = 0;
    // Non-blocking, so that a FIFO is refused below instead of waiting for a writer.
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        g_loader.system_error = errno;
        return 0;
    }
    off_t size = 0;
    int result = 0;
    if (IsRegularFile(fd, &size)) result = size > capacity ? kFileTooLarge : ReadAll(fd, destination, size);
    close(fd);
    return result;
}
