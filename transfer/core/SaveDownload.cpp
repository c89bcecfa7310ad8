#include "transfer/core/SaveDownload.h"

#include "platform/files/FileOps.h"
#include "platform/files/ReceivingFile.h"

namespace transfer {

namespace pf = platform::files;

std::string ReceivingDirectory(const std::string& targetDir, const std::string& fileName) {
    return pf::DirectoryOf(targetDir + fileName);
}

SaveResult CommitReplacingDirectory(
    pf::ReceivingFile& file, const std::string& targetDir, const std::string& fileName) {
    SaveResult r;
    const std::string finalPath = targetDir + fileName;
    if (fileName.empty() || pf::DirectoryExists(finalPath)) {
        // Naming it onto a directory would fail only after the old files
        // were gone; refuse before touching anything.
        r.Error = "not a file name: " + finalPath;
        return r;
    }
    if (!file.IsOpen()) {
        r.Error = "no file was received";
        return r;
    }
    if (!file.Flush(r.Error))
        return r;
    if (pf::DirectoryOf(targetDir) == pf::DirectoryOf(finalPath)) {
        // The usual case: the old files and the new one in one directory.
        if (!file.CommitReplacing(targetDir, finalPath, r.Error))
            return r;
        r.Ok = true;
        return r;
    }
    // A file name with a directory part of its own: the files it replaces
    // lie in another directory than the one it is named in.
    pf::DeleteFilesMatching(targetDir, file.TemporaryPath());
    if (!file.Commit(finalPath, r.Error))
        return r;
    r.Ok = true;
    return r;
}

SaveResult SaveReplacingDirectory(
    const std::string& targetDir, const std::string& fileName, const uint8_t* data, std::size_t size) {
    SaveResult r;
    pf::ReceivingFile file;
    if (!file.Create(ReceivingDirectory(targetDir, fileName), r.Error))
        return r;
    if (size > 0 && !file.WriteAt(0, data, size, r.Error))
        return r;
    return CommitReplacingDirectory(file, targetDir, fileName);
}

} // namespace transfer
