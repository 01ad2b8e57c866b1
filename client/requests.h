// Device requests of the page: the text of one JSON object in, the print-job file (if any) and the
// support program's command line out. Pure functions; carryOut() does the two side effects.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/error.h"

namespace tovi::client {

// A request the page got wrong: not a JSON object, or a key missing. Kinds "ValueError" and
// "KeyError". Such a request is refused (nothing written, nothing started) and the client keeps
// running: a malformed request must not end the till's session and lose the sale.
class RequestError : public Error {
public:
    using Error::Error;
};

struct JobFile {
    std::string name;   // bare file name, in the current folder
    std::string bytes;  // exact content, code page 936
    bool operator==(const JobFile&) const = default;
};

struct DeviceCommand {
    std::optional<JobFile> job;  // written before the support program starts
    std::string commandLine;     // parameters of tovipos_print, UTF-8
    bool operator==(const DeviceCommand&) const = default;
};

enum class PrintKind { Receipt, Settlement };

// toviPrint / toviRijie: "interface", "opencash", "cut", "blankrow", "data".
DeviceCommand printRequest(PrintKind kind, std::string_view json);
// toviOpencash: "interface".
DeviceCommand opencashRequest(std::string_view json);
// toviDisplay: "interface", "display_type", "ysje", "baudrate".
DeviceCommand displayRequest(std::string_view json);

// What carrying out a command needs of the system; replaced by a recorder in tests.
class DeviceHost {
public:
    virtual ~DeviceHost() = default;
    // Creates or truncates the file and writes all bytes in binary mode; throws IOError on failure.
    virtual void writeJobFile(const JobFile& job) = 0;
    // Starts tovipos_print with the command line and returns at once; failures go unnoticed.
    virtual void startSupportProgram(const std::string& commandLine) = 0;
};

// Writes the job file, if any, then starts the support program (not when the write failed).
void carryOut(const DeviceCommand& command, DeviceHost& host);

// The real host: files in the current folder, the support program through the shell.
class SystemDeviceHost : public DeviceHost {
public:
    void writeJobFile(const JobFile& job) override;
    void startSupportProgram(const std::string& commandLine) override;
};

}  // namespace tovi::client
