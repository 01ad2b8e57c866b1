// The command-line dispatcher and the device commands of the support program.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/support_protocol.h"
#include "support/devices.h"
#include "support/system.h"

namespace tovi::support {

// Texts shown to the operator.
inline constexpr const char* kNoParameters = "调用参数不能为空";
inline constexpr const char* kYourCommandWas = "您的调用命令是:";
inline constexpr const char* kWrongParameters = "调用参数不正确";
inline constexpr const char* kPrintFailed = "打印小票出错";
inline constexpr const char* kDrawerFailed = "打开钱箱出错";
inline constexpr const char* kBadPortName = "COM端口写法不对";
inline constexpr const char* kDisplaySendFailed = "顾客显示屏发送失败";

// "顾客显示屏" + port + "打开出错" LF "请检查顾客显示屏接口设置是否正确".
std::string displayOpenFailedText(const std::string& port);

struct Decision {
    // Nothing when the arguments name no command: then message says why (no parameters, or a
    // wrong call), else it is empty.
    std::optional<protocol::Command> command;
    std::string message;
};

// Which command an argument list (element 0 the program) asks for. The parameter count picks the
// one word it allows (6 PRINT, 3 PRINTRAW, 2 OPENCASH, 5 DISPLAY, 1 UPDATE); the command word is
// parameter 1 upper-cased in ASCII and must equal it byte for byte.
Decision decideCommand(const std::vector<std::string>& args);

// "您的调用命令是:" + word + LF + "调用参数不正确".
std::string wrongCallText(const std::string& word);

// How a buffer reaches "USB": through winPrint, which finds the end itself, or through
// winPrintBytes with the length (raw jobs, whose bytes winPrint's end rule cannot frame).
enum class Framing { EndRule, Length };

// Routes a buffer to the printer: "USB" to winPrint (or winPrintBytes), any other name to
// winWriteFile. True when the library reported success (0); false, with nothing sent, for a
// length-framed buffer to "USB" when the library has no winPrintBytes: half a raw job would be
// worse than none.
bool sendToPrinter(DeviceLibraries& devices, const std::string& printer, const std::string& buffer,
                   Framing framing = Framing::EndRule);

// The most feed lines a print job may ask for; more is a wrong call and nothing is sent. Fewer than
// none (a page's -1 for "none") feed nothing.
inline constexpr std::int32_t kMaxFeedLines = 255;

enum class PrintResult { Printed, Failed, WrongCall };

// PRINT job-file printer open-drawer cut feed-lines. Failed when the job file is missing or a
// folder, or the library failed; WrongCall when the feed lines are above kMaxFeedLines (nothing
// read or sent). A feed-lines text that is no integer throws ValueError before anything
// is read or sent; a job file that cannot be read throws IOError.
PrintResult printReceipt(DeviceLibraries& devices, SupportSystem& system, const protocol::PrintWords& words);

// PRINTRAW job-file printer: sends the file's bytes exactly as they are, nothing added. False (the
// print failure) when the file is missing, a folder, empty or too large for one call, or the
// library failed; a file that cannot be read throws IOError.
bool printRawJob(DeviceLibraries& devices, SupportSystem& system, const protocol::PrintRawWords& words);

// OPENCASH printer: sends the 7 drawer bytes. True on success.
bool openCashDrawer(DeviceLibraries& devices, const std::string& printer);

// DISPLAY mode amount port baud: shows its own messages. A port digit or baud rate that is no
// integer throws ValueError before any library call.
void showOnDisplay(DeviceLibraries& devices, SupportSystem& system, const std::string& mode,
                   const std::string& amount, const std::string& port, const std::string& baud);

// Runs the one command the arguments ask for, showing any failure message through system.
void dispatchCommand(const std::vector<std::string>& args, DeviceLibraries& devices, SupportSystem& system);

}  // namespace tovi::support
