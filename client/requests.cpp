#include "client/requests.h"

#include <rapidjson/document.h>

#include <cerrno>
#include <cstdio>
#include <initializer_list>
#include <optional>
#include <system_error>
#include <vector>

#include "common/base64.h"
#include "common/handle.h"
#include "common/messages.h"
#include "common/support_protocol.h"
#include "common/text.h"

namespace tovi::client {

namespace {

struct Value {
    const char* key;
    bool commandLine;  // goes onto the support program's command line
};

// The values of the keys, in lookup order. A value that is not a JSON string is taken as empty
// text: it reaches the support program as an empty word, which then reports a wrong call.
std::vector<std::string> readKeys(std::string_view json, std::initializer_list<Value> keys) {
    if (json.size() > kMaxRequestBytes) throw RequestError("request is larger than 4 MiB", "ValueError");
    rapidjson::Document doc;
    // Iterative: a request nested a million levels deep is refused instead of overflowing the
    // stack. (The document's default allocator frees without walking the tree either.)
    doc.Parse<rapidjson::kParseIterativeFlag>(json.data(), json.size());
    if (doc.HasParseError() || !doc.IsObject()) throw RequestError("request is not a JSON object", "ValueError");
    std::vector<std::string> values;
    for (const Value& key : keys) {
        const auto it = doc.FindMember(key.key);
        if (it == doc.MemberEnd()) throw RequestError(std::string("missing key: ") + key.key, "KeyError");
        std::string text = it->value.IsString() ? std::string(it->value.GetString(), it->value.GetStringLength())
                                                : std::string();
        if (key.commandLine) {
            // A line break would make the support program see other words than the client built;
            // no control character has any business in a device setting.
            for (const char c : text) {
                const auto byte = static_cast<unsigned char>(c);
                if (byte < 0x20 || byte == 0x7F) {
                    throw RequestError(std::string("control character in ") + key.key, "ValueError");
                }
            }
        }
        values.push_back(std::move(text));
    }
    return values;
}

// "interface" names a device ("USB", "COM3", "LPT1", a name the shop listed), never a path: no
// folder separator, no drive or device prefix, no file extension.
const std::string& deviceName(const std::string& value) {
    if (value.find_first_of("/\\:.") != std::string::npos) {
        throw RequestError("interface is not a device name: " + value, "ValueError");
    }
    return value;
}

}  // namespace

DeviceCommand printRequest(PrintKind kind, std::string_view json) {
    const auto v = readKeys(json, {{"interface", true}, {"opencash", true}, {"cut", true}, {"blankrow", true},
                                   {"data", false}});
    const std::string file(kind == PrintKind::Receipt ? protocol::kReceiptFile : protocol::kSettlementFile);
    return {JobFile{file, utf8ToGb2312(v[4])}, protocol::commandLine(protocol::PrintWords{file, deviceName(v[0]), v[1], v[2], v[3]})};
}

DeviceCommand printRawRequest(std::string_view json) {
    const auto v = readKeys(json, {{"interface", true}, {"data", false}});
    const std::string& printer = deviceName(v[0]);
    std::optional<std::string> decoded = base64Decode(v[1]);
    if (!decoded) throw RequestError("data is not base64", "ValueError");
    std::string bytes = std::move(*decoded);
    if (bytes.empty()) throw RequestError("data holds no bytes", "ValueError");
    const std::string file(protocol::kRawJobFile);
    return {JobFile{file, std::move(bytes)}, protocol::commandLine(protocol::PrintRawWords{file, printer})};
}

DeviceCommand opencashRequest(std::string_view json) {
    const auto v = readKeys(json, {{"interface", true}});
    return {std::nullopt, protocol::commandLine(protocol::OpenCashWords{deviceName(v[0])})};
}

DeviceCommand displayRequest(std::string_view json) {
    // Looked up with the port first, but the port is the third value on the command line.
    const auto v = readKeys(json, {{"interface", true}, {"display_type", true}, {"ysje", true}, {"baudrate", true}});
    return {std::nullopt, protocol::commandLine(protocol::DisplayWords{v[1], v[2], deviceName(v[0]), v[3]})};
}

DeviceCommand statusRequest(std::string_view json) {
    const auto v = readKeys(json, {{"interface", true}});
    return {std::nullopt, protocol::commandLine(protocol::StatusWords{deviceName(v[0])})};
}

namespace {

Error writeError(const JobFile& job, int error) {
    return ioError("cannot write " + job.name + ": " + std::generic_category().message(error));
}

}  // namespace

void SystemDeviceHost::writeJobFile(const JobFile& job) {
    // The names are the fixed ASCII job-file names, so the narrow open is the right one.
    errno = 0;
    std::FILE* raw = std::fopen(job.name.c_str(), "wb");
    if (!raw) throw writeError(job, errno);
    UniqueCFile file(raw);
    if (!job.bytes.empty() && std::fwrite(job.bytes.data(), 1, job.bytes.size(), file.get()) != job.bytes.size()) {
        throw writeError(job, errno ? errno : EIO);
    }
    // The close flushes: a full disk shows here.
    if (std::fclose(file.release()) != 0) throw writeError(job, errno ? errno : EIO);
}

ProgramResult SystemDeviceHost::runSupportProgram(const std::string& commandLine, const RunOptions& options) {
    return runProgram(desktopWindow(), kSupportProgram, commandLine, kShowNormal, options);
}

}  // namespace tovi::client
