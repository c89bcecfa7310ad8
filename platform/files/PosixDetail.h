// Pieces the POSIX file layers share; not part of the interface.
#pragma once

#include <string>

namespace platform::files::detail {

// A file-size limit (RLIMIT_FSIZE) raises SIGXFSZ, whose default action
// kills the process and leaves a temporary file behind. While the signal
// is held ignored, a write past the limit fails with EFBIG like any other
// failed write and is reported.
// Holders are counted: the first saves the disposition it finds, the last
// puts it back, in whatever order they end.
void HoldFileSizeSignalIgnored();
void ReleaseFileSizeSignal();

class IgnoreFileSizeSignal {
public:
    IgnoreFileSizeSignal() { HoldFileSizeSignalIgnored(); }
    ~IgnoreFileSizeSignal() { ReleaseFileSizeSignal(); }
    IgnoreFileSizeSignal(const IgnoreFileSizeSignal&) = delete;
    IgnoreFileSizeSignal& operator=(const IgnoreFileSizeSignal&) = delete;
};

std::string ErrnoText(int err);

// A fresh hidden name for a temporary file in dir (ending with a separator).
std::string HiddenTempName(const std::string& dir);

// Creates a new file with a fresh hidden name in dir (ending with a
// separator), open for reading and writing. Returns the descriptor and sets
// path, or -1 with error set.
int CreateHiddenTempFile(const std::string& dir, std::string& path, std::string& error);

// Makes the entries of dir durable; best effort.
void SyncDirectory(const std::string& dir);

} // namespace platform::files::detail
