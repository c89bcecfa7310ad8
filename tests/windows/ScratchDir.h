// A fresh directory for one test, removed with everything in it; the same
// on Linux and under wine (std::filesystem only), for the test sources that
// both builds compile.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

namespace crosstest {

class ScratchDir {
public:
    ScratchDir() {
        std::random_device rd;
        std::mt19937_64 gen((static_cast<unsigned long long>(rd()) << 32) ^ rd());
        const auto base = std::filesystem::temp_directory_path();
        for (int attempt = 0; attempt < 100; ++attempt) {
            auto candidate = base / ("halvorne-test-" + std::to_string(gen() % 1000000000000ull));
            std::error_code ec;
            if (std::filesystem::create_directory(candidate, ec)) {
                path_ = candidate;
                return;
            }
        }
        throw std::runtime_error("no scratch directory in " + base.string());
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // A file name in the directory, as the program's own code would write it.
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    // The directory as the host passes it: with a trailing separator.
    std::string prefix() const { return (path_ / "").string(); }

private:
    std::filesystem::path path_;
};

// A path, not a narrow string: on Windows a narrow name would be read in
// the ANSI code page, so a UTF-8 name with a Czech letter would name
// another file.
inline void WriteBytes(const std::filesystem::path& name, const std::string& bytes) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline std::string ReadBytes(const std::filesystem::path& name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace crosstest
