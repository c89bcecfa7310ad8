#pragma once
// The command line of VELTRIX and the two transfer routines it runs.
#include <memory>
#include <string>
#include <vector>

#include "platform/serial/SerialPort.h"

namespace serialxfer {

// Texts written to standard output; every line ends with CR LF.
extern const char* const kUsageText;
extern const char* const kMissingParametersMessage;
extern const char* const kWrongParameterMessage;

enum class Direction { Receive, Send };

struct CommandLine {
    bool valid = false;
    // When not valid: the message line written before the usage text.
    std::string message;
    Direction direction = Direction::Receive;
    std::string fileName;
    // "COM1:19200,n,8,1" or "COM2:19200,n,8,1".
    std::string portDescription;
};

// Checks the arguments (without the program name) in the tool's order.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

// Everything written before the exit when the arguments are rejected: an
// empty line, the message line and the usage text.
std::string RejectionOutput(const CommandLine& commandLine);

// Writes the usage text and ends the program with exit code 1.
[[noreturn]] void PrintUsage();

// Opens the device of the description's first four characters ("COM1",
// "COM2") and sets it up. Always returns a port; one that could not be opened
// or set up fails every read and write at once.
std::unique_ptr<platform::serial::SystemSerialPort> OpenSerialPort(const std::string& portDescription);

// Each returns 0, -1 or (SendFile only) -2; a failed file operation throws
// FileError.
int ReceiveFile(const std::string& portDescription, const std::string& fileName);
int SendFile(const std::string& portDescription, const std::string& fileName);

// The whole program; returns the exit code.
int RunVeltrix(const std::vector<std::string>& args);

} // namespace serialxfer
