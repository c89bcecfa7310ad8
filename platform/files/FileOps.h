// File operations the downloads need: emptying a directory by a name
// pattern and saving a file so that it appears complete or not at all.
// POSIX implementation in FileOps.cpp, Windows in FileOps_win.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform::files {

// Deletes every entry that the Windows pattern prefix + "*.*" would find,
// except directories (they cannot be deleted that way), read-only files
// (on POSIX: no write permission for the owner) and the entry whose full
// name equals skipPath. prefix is used unchanged: "dir/" names a
// directory, "dir/ab" matches names beginning with "ab" in "dir". Failures
// to delete are ignored. Returns how many entries were deleted.
std::size_t DeleteFilesMatching(const std::string& prefix, const std::string& skipPath = {});

// The directory part of a path ("a/b/c" -> "a/b/", "c" -> "./", "/c" -> "/");
// on Windows a backslash and a drive's ":" end a directory part too.
std::string DirectoryOf(const std::string& path);

// Creates a new, uniquely named file in directory dir (which ends with a
// separator), writes all n bytes, flushes them to the device and closes
// it. On success tempPath names the file. On failure nothing is left behind
// and error holds the system's reason.
bool WriteNewTempFile(
    const std::string& dir, const uint8_t* data, std::size_t n, std::string& tempPath, std::string& error);

// Renames from to to, replacing to if it exists, and makes the rename
// durable. On failure error holds the reason and from is left as it was.
bool ReplaceFile(const std::string& from, const std::string& to, std::string& error);

// Removes one file; true when it is gone afterwards.
bool RemoveFile(const std::string& path);

// The user's own directory for this program's state, ending with a
// separator: $XDG_CONFIG_HOME/halvorne/ (an absolute XDG_CONFIG_HOME), else
// ~/.config/halvorne/; on Windows %APPDATA%\Halvorne\. Empty when the
// environment names none. Nothing is created.
std::string UserStateDirectory();

// Reads a whole file of at most maxSize bytes into out. False with error
// when it cannot be read or is larger.
bool ReadSmallFile(const std::string& path, std::size_t maxSize, std::string& out, std::string& error);

// Creates dir and its missing parents; true when it exists afterwards.
bool CreateDirectories(const std::string& dir, std::string& error);

bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);

// The file name in directory dir as the Windows file system finds it,
// ignoring the case of letters: the path (dir + separator + entry) of the
// entry spelled name where that is a file, else of the first entry in byte
// order that equals name but for the case of ASCII letters and is a
// regular file (or a link to one); empty when there is none. Only the
// entries of name's length that match are looked at further: one listing,
// however many entries the directory has. An empty dir is the current one.
std::string FindFileIgnoringCase(const std::string& dir, const std::string& name);

} // namespace platform::files
