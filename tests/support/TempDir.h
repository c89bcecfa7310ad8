// A temporary directory for one test, removed with everything in it, and
// small file helpers shared by the test folders.
#pragma once

#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>
#include <string>

#include <cstdlib>

namespace testsupport {

class TempDir {
public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "halvorne-test-XXXXXX").string();
        if (!::mkdtemp(tmpl.data()))
            throw std::runtime_error("mkdtemp failed");
        path_ = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The directory as the host passes it: with a trailing separator.
    std::string prefix() const { return path_.string() + "/"; }

private:
    std::filesystem::path path_;
};

inline void WriteFile(const std::filesystem::path& p, const std::string& bytes) {
    std::ofstream f(p, std::ios::binary);
    f << bytes;
}

inline std::string ReadFile(const std::filesystem::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

// Names of all entries (recursively, relative to dir), directories with '/'.
inline std::set<std::string> ListTree(const std::filesystem::path& dir) {
    std::set<std::string> out;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(dir, ec);
         it != std::filesystem::recursive_directory_iterator(); ++it) {
        std::string rel = std::filesystem::relative(it->path(), dir).string();
        if (it->is_directory())
            rel += "/";
        out.insert(rel);
    }
    return out;
}

} // namespace testsupport
