// Shared inside the platform layer: whole reads and writes of files.
#pragma once
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace plat::detail {

// Writes all of the bytes, retrying interrupted and partial writes; false
// when the descriptor refuses them.
inline bool writeAll(int fd, const char* data, size_t size)
{
    for (size_t done = 0; done < size;) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// The bytes of a regular file, read whole; false when it cannot be opened, is
// no regular file (a directory, or a FIFO that would block) or shrank meanwhile.
inline bool readRegularFile(const std::string& name, std::vector<uint8_t>* data)
{
    const int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat status{};
    bool ok = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    data->clear();
    if (ok)
        data->resize(size_t(status.st_size));
    for (size_t done = 0; ok && done < data->size();) {
        const ssize_t n = ::read(fd, data->data() + done, data->size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        done += ok ? size_t(n) : 0;
    }
    ::close(fd);
    return ok;
}

} // namespace plat::detail
