#include "client/requests.h"

#include <rapidjson/document.h>

#include <initializer_list>
#include <vector>

#include "client/log.h"
#include "common/messages.h"
#include "common/paths.h"
#include "common/process.h"
#include "common/text.h"

namespace tovi::client {

namespace {

// The values of the keys, in lookup order. A value that is not a JSON string is taken as empty
// text: it reaches the support program as an empty word, which then reports a wrong call.
std::vector<std::string> readKeys(std::string_view json, std::initializer_list<const char*> keys) {
    rapidjson::Document doc;
    doc.Parse(json.data(), json.size());
    if (doc.HasParseError() || !doc.IsObject()) throw RequestError("request is not a JSON object", "ValueError");
    std::vector<std::string> values;
    for (const char* key : keys) {
        const auto it = doc.FindMember(key);
        if (it == doc.MemberEnd()) throw RequestError(std::string("missing key: ") + key, "KeyError");
        values.push_back(it->value.IsString() ? std::string(it->value.GetString(), it->value.GetStringLength())
                                              : std::string());
    }
    return values;
}

}  // namespace

DeviceCommand printRequest(PrintKind kind, std::string_view json) {
    const auto v = readKeys(json, {"interface", "opencash", "cut", "blankrow", "data"});
    const std::string file = kind == PrintKind::Receipt ? "PrintOut1.txt" : "RiJie.txt";
    // Values go in as they stand: no quoting, the support program splits at blanks.
    return {JobFile{file, utf8ToGb2312(v[4])}, "print " + file + " " + v[0] + " " + v[1] + " " + v[2] + " " + v[3]};
}

DeviceCommand opencashRequest(std::string_view json) {
    const auto v = readKeys(json, {"interface"});
    return {std::nullopt, "opencash " + v[0]};
}

DeviceCommand displayRequest(std::string_view json) {
    // Looked up with the port first, but the port is the third value on the command line.
    const auto v = readKeys(json, {"interface", "display_type", "ysje", "baudrate"});
    return {std::nullopt, "display " + v[1] + " " + v[2] + " " + v[0] + " " + v[3]};
}

void carryOut(const DeviceCommand& command, DeviceHost& host) {
    if (command.job) host.writeJobFile(*command.job);
    host.startSupportProgram(command.commandLine);
}

void SystemDeviceHost::writeJobFile(const JobFile& job) { writeFile(job.name, job.bytes); }

void SystemDeviceHost::startSupportProgram(const std::string& commandLine) {
    startProgram(desktopWindow(), kSupportProgram, commandLine, kShowNormal);
    // The command word is the request's kind; the exit code is not waited for here.
    logDeviceRequest(std::string_view(commandLine).substr(0, commandLine.find(' ')), commandLine, std::nullopt);
}

}  // namespace tovi::client
