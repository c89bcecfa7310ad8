// Saving a downloaded file into the target directory so that a failure
// never costs the files already there. The bytes are received into a file
// in that directory that has no name there yet (see
// platform/files/ReceivingFile.h); only once the whole body is in it and has
// passed its checks is it flushed to the device, are the other files
// deleted, and does it get its name.
#pragma once

#include "http/Stream.h"
#include "transfer/core/ErrorClass.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>

namespace platform::files {
class ReceivingFile;
}

namespace transfer {

struct SaveResult {
    bool Ok = false;
    std::string Error; // the system's reason when Ok is false
};

// What a check of a received file decides.
struct ReceivedFileVerdict {
    bool Accepted = true;
    // When refused: the run's exit code, and the text for the message line
    // (UTF-8); an empty text shows the failed-save message.
    int ExitCode = kExitNotSaved;
    std::string Message;

    static ReceivedFileVerdict Accept() { return {}; }
    static ReceivedFileVerdict Refuse(int exitCode, std::string message) {
        return {false, exitCode, std::move(message)};
    }
};

// Checks a download operation runs on a file it receives. Both are
// optional; neither may throw.
struct ReceivedFileChecks {
    // Sees the body's bytes in order as they arrive, each byte once (to
    // hash the file while it streams). A failed download may stop at any
    // byte; only a body that arrived whole reaches Accept.
    std::function<void(const uint8_t* bytes, std::size_t n)> Observe;
    // Decides on the whole body once it has arrived and before anything in
    // the target directory is touched. The stream reads the received bytes
    // from position 0. A refused file is discarded; the old files stay.
    std::function<ReceivedFileVerdict(TStream& received)> Accept;
};

// The directory a download of fileName into targetDir is received in: the
// one its final name lies in.
std::string ReceivingDirectory(const std::string& targetDir, const std::string& fileName);

// Makes the received file targetDir + fileName in place of every file that
// the pattern targetDir + "*.*" finds (sub-directories stay): flushes it to
// the device, deletes the other files, then names it. A failure before the
// deletion leaves the directory as it was and the file uncommitted (its
// owner discards it).
SaveResult CommitReplacingDirectory(
    platform::files::ReceivingFile& file, const std::string& targetDir, const std::string& fileName);

// The same for bytes in memory: receives them into a new file in the
// directory, then commits it as above. On failure nothing is left behind.
SaveResult SaveReplacingDirectory(
    const std::string& targetDir, const std::string& fileName, const uint8_t* data, std::size_t size);

} // namespace transfer
