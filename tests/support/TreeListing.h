// A directory's entries as a set of names, the same on Linux and under
// wine: what a test compares before and after a run to see that nothing
// came, went or was renamed.
#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <system_error>

namespace tests::support {

// Names of all entries (recursively, relative to dir, with '/' between
// folders on every system), directories with a trailing '/'.
inline std::set<std::string> ListTree(const std::filesystem::path& dir) {
    std::set<std::string> out;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(dir, ec);
         it != std::filesystem::recursive_directory_iterator(); ++it) {
        std::string rel = std::filesystem::relative(it->path(), dir).generic_string();
        if (it->is_directory())
            rel += "/";
        out.insert(rel);
    }
    return out;
}

} // namespace tests::support
