// Device requests of the page: the text of one JSON object in, the print-job file (if any) and the
// support program's command line out. Pure functions; the queue (device_queue.h) carries them out.
//
// The page is not trusted: a request is refused before anything is written or started when its
// text is too large, nested too deep to parse, names a path instead of a device, or would put a
// control character onto the command line.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "common/error.h"
#include "common/process.h"

namespace tovi::client {

// A request the page got wrong: too large, not a JSON object, a key missing, a value that may not
// go onto the command line. Kinds "ValueError" and "KeyError". Such a request is refused (nothing
// written, nothing started) and the client keeps running: a malformed request must not end the
// till's session and lose the sale.
class RequestError : public Error {
public:
    using Error::Error;
};

// The largest request text accepted, in UTF-8 bytes.
inline constexpr std::size_t kMaxRequestBytes = 4 * 1024 * 1024;

struct JobFile {
    std::string name;   // bare file name, in the current folder
    std::string bytes;  // exact content: code page 936 text, or a raw job's bytes
    bool operator==(const JobFile&) const = default;
};

struct DeviceCommand {
    std::optional<JobFile> job;  // written before the support program starts
    std::string commandLine;     // parameters of tovipos_print, UTF-8
    bool operator==(const DeviceCommand&) const = default;
};

enum class PrintKind { Receipt, Settlement };

// The page's function that reads a printer's status: its result always carries one.
inline constexpr char kDeviceStatusFunction[] = "toviDeviceStatus";

// toviPrint / toviRijie: "interface", "opencash", "cut", "blankrow", "data".
DeviceCommand printRequest(PrintKind kind, std::string_view json);
// toviPrintRaw: "interface", and "data", the job's exact bytes in base64 (RFC 4648: standard
// alphabet, padding, no other characters). Data that is no such text, or decodes to nothing, is
// refused.
DeviceCommand printRawRequest(std::string_view json);
// toviOpencash: "interface".
DeviceCommand opencashRequest(std::string_view json);
// toviDisplay: "interface", "display_type", "ysje", "baudrate".
DeviceCommand displayRequest(std::string_view json);
// toviDeviceStatus: "interface", the printer whose status is read, under toviPrint's rules.
DeviceCommand statusRequest(std::string_view json);

// What carrying out a command needs of the system; replaced by a recorder in tests. Called on the
// device queue's worker, one request at a time.
class DeviceHost {
public:
    virtual ~DeviceHost() = default;
    // Creates or truncates the file and writes all bytes in binary mode; throws an Error naming
    // the file and the reason on failure.
    virtual void writeJobFile(const JobFile& job) = 0;
    // Starts tovipos_print with the command line and waits until it has ended.
    virtual ProgramResult runSupportProgram(const std::string& commandLine, const RunOptions& options) = 0;
};

// The real host: files in the current folder, the support program through the shell.
class SystemDeviceHost : public DeviceHost {
public:
    void writeJobFile(const JobFile& job) override;
    ProgramResult runSupportProgram(const std::string& commandLine, const RunOptions& options) override;
};

}  // namespace tovi::client
