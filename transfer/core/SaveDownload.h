// Saving a downloaded file into the target directory so that a failure
// never costs the files already there: the bytes go to a temporary file in
// the same directory first (complete, flushed, closed); only then are the
// other files deleted and the temporary file renamed into place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace transfer {

struct SaveResult {
    bool Ok = false;
    std::string Error; // the system's reason when Ok is false
};

// Saves data as targetDir + fileName after deleting every file that the
// pattern targetDir + "*.*" finds (sub-directories stay). On failure the
// temporary file is removed and nothing else is touched.
SaveResult SaveReplacingDirectory(const std::string& targetDir, const std::string& fileName,
                                  const uint8_t* data, std::size_t size);

} // namespace transfer
