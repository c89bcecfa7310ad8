#include "tests/support/NoiseFile.h"

#include <algorithm>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tests::support {

bool WriteNoiseFile(const std::string& path, std::uint64_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    std::vector<std::uint64_t> block(1 << 17);
    std::uint64_t x = 88172645463325252ull;
    std::uint64_t written = 0;
    bool ok = true;
    while (ok && written < size) {
        for (auto& w : block) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            w = x;
        }
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(size - written, block.size() * sizeof block[0]));
        ok = ::write(fd, block.data(), n) == static_cast<ssize_t>(n);
        written += n;
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    // The web server reads it as another user may; a umask must not stop it.
    return ok && ::chmod(path.c_str(), 0644) == 0;
}

} // namespace tests::support
