// Reading an image file whole on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "image/image_file.h"

namespace {

int ReadAll(int fd, uint8_t* destination, off_t size) {
    off_t done = 0;
    while (done < size) {
        const ssize_t got = read(fd, destination + done, size_t(size - done));
        if (got <= 0) return 0;
        done += got;
    }
    return int(done);
}

}  // namespace

int ReadWholeFile(const char* path, uint8_t* destination, int capacity) {
    // Non-blocking, so that a FIFO is refused below instead of waiting for a writer.
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return 0;
    struct stat info;
    int result = 0;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        result = info.st_size > capacity ? kFileTooLarge : ReadAll(fd, destination, info.st_size);
    }
    close(fd);
    return result;
}
