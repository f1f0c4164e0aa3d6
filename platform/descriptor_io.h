// Shared inside the platform layer: whole writes to a file descriptor.
#pragma once
#include <unistd.h>

#include <cerrno>
#include <cstddef>

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

} // namespace plat::detail
