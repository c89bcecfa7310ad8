#include "serialxfer/Veltrix.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "platform/serial/Clock.h"
#include "serialxfer/DataFile.h"
#include "serialxfer/Protocol.h"

namespace serialxfer {

const char* const kUsageText = " VELTRIX I/O jmeno_souboru [/1] [/2] [/?] \r\n"
                               "      I .... do PC                   \r\n"
                               "      O .... z PC                    \r\n"
                               "     /1 .... komunikace pres COM1    \r\n"
                               "     /2 .... komunikace pres COM2    \r\n"
                               "     /? .... Tato napoveda           \r\n"
                               "\r\n";
const char* const kMissingParametersMessage = " Ocekavam zadani s nasledujicimi parametry: ";
const char* const kWrongParameterMessage = " Byl zadan chybny parametr! ";

namespace {

void WriteOut(const std::string& text) {
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t put = ::write(STDOUT_FILENO, data, left);
        if (put <= 0)
            return;
        data += put;
        left -= static_cast<std::size_t>(put);
    }
}

} // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
    CommandLine result;
    if (args.size() < 3) {
        result.message = kMissingParametersMessage;
        return result;
    }
    const std::string& direction = args[0];
    if (direction == "I" || direction == "i") {
        result.direction = Direction::Receive;
    } else if (direction == "O" || direction == "o") {
        result.direction = Direction::Send;
    } else {
        result.message = kWrongParameterMessage;
        return result;
    }
    const std::string& port = args[2];
    if (port != "/1" && port != "/2") {
        result.message = kWrongParameterMessage;
        return result;
    }
    result.valid = true;
    result.fileName = args[1];
    result.portDescription = std::string("COM") + port[1] + ":19200,n,8,1";
    return result;
}

std::string RejectionOutput(const CommandLine& commandLine) {
    return "\r\n" + commandLine.message + "\r\n" + kUsageText;
}

void PrintUsage() {
    WriteOut(kUsageText);
    std::exit(1);
}

std::unique_ptr<platform::serial::SystemSerialPort> OpenSerialPort(const std::string& portDescription) {
    return platform::serial::SystemSerialPort::Open(
        platform::serial::DevicePathForPortName(portDescription.substr(0, 4)));
}

int ReceiveFile(const std::string& portDescription, const std::string& fileName) {
    auto port = OpenSerialPort(portDescription);
    OutputFile file(fileName, "ReceiveFile");
    platform::serial::MonotonicClock clock;
    const int result = RunReceiver(*port, clock, file);
    file.Close();
    port->Close();
    return result;
}

int SendFile(const std::string& portDescription, const std::string& fileName) {
    auto port = OpenSerialPort(portDescription);
    if (!FileExists(fileName)) {
        port->Close();
        return kNoSuchFile;
    }
    InputFile file(fileName, "SendFile");
    platform::serial::MonotonicClock clock;
    const int result = RunSender(*port, clock, file);
    file.Close();
    port->Close();
    return result;
}

int RunVeltrix(const std::vector<std::string>& args) {
    const CommandLine commandLine = ParseCommandLine(args);
    if (!commandLine.valid) {
        WriteOut("\r\n" + commandLine.message + "\r\n");
        PrintUsage();
    }
    try {
        if (commandLine.direction == Direction::Receive)
            return ReceiveFile(commandLine.portDescription, commandLine.fileName);
        return SendFile(commandLine.portDescription, commandLine.fileName);
    } catch (const FileError& error) {
        WriteOut(FileErrorReport(error));
        return 1;
    }
}

} // namespace serialxfer
