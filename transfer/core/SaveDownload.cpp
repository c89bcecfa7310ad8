#include "transfer/core/SaveDownload.h"

#include "platform/files/FileOps.h"

namespace transfer {

SaveResult SaveReplacingDirectory(const std::string& targetDir, const std::string& fileName,
                                  const uint8_t* data, std::size_t size) {
    namespace pf = platform::files;
    SaveResult r;
    const std::string finalPath = targetDir + fileName;
    if (fileName.empty() || pf::DirectoryExists(finalPath)) {
        // Renaming onto a directory would fail only after the old files
        // were gone; refuse before touching anything.
        r.Error = "not a file name: " + finalPath;
        return r;
    }
    static const uint8_t kNothing = 0;
    std::string tempPath;
    if (!pf::WriteNewTempFile(pf::DirectoryOf(finalPath), size ? data : &kNothing, size, tempPath, r.Error))
        return r;
    pf::DeleteFilesMatching(targetDir, tempPath);
    if (!pf::ReplaceFile(tempPath, finalPath, r.Error)) {
        pf::RemoveFile(tempPath);
        return r;
    }
    r.Ok = true;
    return r;
}

} // namespace transfer
