// A file that is being received into a directory and has not been accepted
// yet. Its bytes go to the directory's own file system as they arrive (so
// naming it at the end is a rename, not a copy), but it gets its final name
// only by Commit; until then it is anonymous where the system allows it
// (Linux O_TMPFILE), else it lies under a hidden temporary name. Either way
// a file that is never committed leaves nothing behind: Discard, the
// destructor and DiscardAllReceivingFiles remove it.
//
// POSIX implementation in ReceivingFile_posix.cpp; Windows in
// ReceivingFile_win.cpp (a hidden temporary file marked for deletion until
// Commit, which renames it by its handle).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform::files {

class ReceivingFile {
public:
    enum class Naming {
        AnonymousWherePossible, // no name at all in the directory until Commit
        Named,                  // always a hidden temporary name (tests of that path)
    };

    ReceivingFile() = default;
    ~ReceivingFile();
    ReceivingFile(const ReceivingFile&) = delete;
    ReceivingFile& operator=(const ReceivingFile&) = delete;

    // Creates an empty file in dir (which ends with a separator). On
    // failure error holds the system's reason and nothing was created.
    bool Create(const std::string& dir, std::string& error, Naming naming = Naming::AnonymousWherePossible);
    bool IsOpen() const { return handle_ != kNoHandle; }
    // True when the file has no name in the directory (before Commit).
    bool IsAnonymous() const { return IsOpen() && tempPath_.empty(); }
    // The hidden name the file lies under until Commit; empty when it has none.
    const std::string& TemporaryPath() const { return tempPath_; }

    // Writes all n bytes at offset. Writing moves the written data on to the
    // device in the background as it goes, so that Flush has little left
    // to do. A full disk or a file-size limit is a failure with its reason.
    bool WriteAt(uint64_t offset, const uint8_t* data, std::size_t n, std::string& error);
    // The same for a writer that keeps whole aligned blocks: where data,
    // offset and n are multiples of kUnbufferedAlignment and the file
    // system allows it, the bytes go from data straight to the device, with
    // no copy kept in the page cache and nothing left for the system to
    // write back later (Linux O_DIRECT). Anything else is written as
    // WriteAt writes it. Durable, as every write, only after Flush.
    bool WriteAtUnbuffered(uint64_t offset, const uint8_t* data, std::size_t n, std::string& error);
    static constexpr std::size_t kUnbufferedAlignment = 4096;
    // Reads up to n bytes at offset; got is 0 at the end of the file.
    bool ReadAt(uint64_t offset, uint8_t* out, std::size_t n, std::size_t& got, std::string& error);
    // Cuts or extends the file to size bytes.
    bool Resize(uint64_t size, std::string& error);

    // Waits until every byte written is on the device.
    bool Flush(std::string& error);
    // Gives the file the name path (in the directory it was created in),
    // replacing a file of that name, makes the new name durable and closes
    // the file. On failure the file stays uncommitted and open.
    bool Commit(const std::string& path, std::string& error);
    // The same in place of the files that DeleteFilesMatching(prefix)
    // finds (prefix in the same directory), in an order that a crash at any
    // moment cannot turn into a directory with neither the old files nor
    // the new one: the new file is made durable under a hidden name first,
    // then the old files go (read-only files and sub-directories stay),
    // then it is renamed. Its final mode (the umask's) is given here; until
    // then only the owner can read it. A read-only file or a directory of
    // the final name is refused before anything changes.
    bool CommitReplacing(const std::string& prefix, const std::string& path, std::string& error);
    // Closes and removes an uncommitted file; nothing after Commit.
    void Discard();

private:
    // POSIX: Commit (prefix null) and CommitReplacing in one.
    bool CommitAt(const std::string* prefix, const std::string& path, std::string& error);
    void StartWriteback(uint64_t writtenEnd);
    void Close();

    // The system's handle of the open file (a descriptor, or a Windows
    // HANDLE, which fits as well).
    static constexpr std::intptr_t kNoHandle = -1;
    std::intptr_t handle_ = kNoHandle;
    // POSIX: a second descriptor of the file for unbuffered writes, opened
    // by the first of them; unbufferedTried_ once that was attempted.
    std::intptr_t unbufferedHandle_ = kNoHandle;
    bool unbufferedTried_ = false;
    // POSIX: the directory, opened once without following a link; every
    // name in it is made, removed and changed relative to this handle.
    std::intptr_t dirHandle_ = kNoHandle;
    std::string dir_;
    std::string tempPath_;
    uint64_t writebackStarted_ = 0; // bytes from 0 handed to the device
    uint64_t writebackSettled_ = 0; // bytes from 0 waited for
};

// Removes the named temporary files of every receiving file not yet
// committed or discarded. For a process that ends at once without running
// destructors; anonymous files vanish with the process by themselves.
void DiscardAllReceivingFiles();

} // namespace platform::files
