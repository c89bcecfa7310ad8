#pragma once
// The data file of a transfer: where received frames go and where frames to
// send come from. A failed file operation is a FileError; the program turns it
// into its two-line error report and exit code 1.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace serialxfer {

class FileError : public std::runtime_error {
public:
    FileError(std::string routine, std::string operation, int code);
    const std::string& Routine() const { return routine_; }
    const std::string& Operation() const { return operation_; }
    int Code() const { return code_; }

private:
    std::string routine_;
    std::string operation_;
    int code_;
};

// "File not found", "Disk full", ... for an errno value; "I/O error N" for
// codes without a text of their own.
std::string FileErrorText(int code);
// The report: a line naming the kind of error and where it was raised, and a
// line with the text for its code and a full stop; both end with CR LF.
std::string FileErrorReport(const FileError& error);

class DataSink {
public:
    virtual ~DataSink() = default;
    virtual void Write(const std::uint8_t* data, std::size_t size) = 0;
};

class DataSource {
public:
    virtual ~DataSource() = default;
    // Reads up to size bytes; fewer only at the end of the data.
    virtual std::size_t Read(std::uint8_t* data, std::size_t size) = 0;
    virtual bool AtEnd() = 0;
};

// True for an existing file that is not a directory.
bool FileExists(const std::string& path);

// A received file: created anew (truncated), written frame by frame straight
// to disk, so whatever was accepted before a failure stays there.
class OutputFile final : public DataSink {
public:
    OutputFile(const std::string& path, std::string routine);
    ~OutputFile() override;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    void Write(const std::uint8_t* data, std::size_t size) override;
    void Close();

private:
    int fd_;
    std::string routine_;
};

// A file to send, opened for reading and writing, as the tool always has: a
// file marked read-only (no write permission for anybody) is refused with
// "File access denied", also for the superuser.
class InputFile final : public DataSource {
public:
    InputFile(const std::string& path, std::string routine);
    ~InputFile() override;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    std::size_t Read(std::uint8_t* data, std::size_t size) override;
    bool AtEnd() override;
    void Close();

private:
    void Fill();
    int fd_;
    std::string routine_;
    std::uint8_t buffer_[4096]{};
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    bool eof_ = false;
};

// In-memory data, for tests and fuzz targets.
class MemorySink final : public DataSink {
public:
    void Write(const std::uint8_t* data, std::size_t size) override { bytes.insert(bytes.end(), data, data + size); }
    std::vector<std::uint8_t> bytes;
};

class MemorySource final : public DataSource {
public:
    explicit MemorySource(std::vector<std::uint8_t> data) : bytes_(std::move(data)) {}
    std::size_t Read(std::uint8_t* data, std::size_t size) override;
    bool AtEnd() override { return pos_ >= bytes_.size(); }

private:
    std::vector<std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

} // namespace serialxfer
