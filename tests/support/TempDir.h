// A temporary directory for one test, removed with everything in it, and
// small file helpers shared by the test folders.
#pragma once

#include "TreeListing.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace tests::support {

class TempDir {
public:
    // A failed mkdtemp throws: a test must never go on in a folder that is
    // not its own.
    explicit TempDir(const std::string& prefix = "halvorne-test-") {
        std::string tmpl = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
        if (::mkdtemp(tmpl.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed for " + tmpl);
        path_ = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        // A test may have taken the write bit away to provoke a failure.
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The directory as the host passes it: with a trailing separator.
    std::string prefix() const { return path_.string() + "/"; }
    // The full name of an entry in it.
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    std::string operator/(const std::string& name) const { return file(name); }

private:
    std::filesystem::path path_;
};

inline void WriteFile(const std::filesystem::path& p, const std::string& bytes) {
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadFile(const std::filesystem::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

} // namespace tests::support
