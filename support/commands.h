// The command-line dispatcher and the device commands of the support program.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
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
inline constexpr const char* kStatusFailed = "读取打印机状态出错";
// The line under a job's failure text when the printer takes no job.
inline constexpr const char* kCoverOpenText = "打印机上盖打开";
inline constexpr const char* kPaperOutText = "打印机缺纸";
inline constexpr const char* kOfflineText = "打印机离线";

// "顾客显示屏" + port + "打开出错" LF "请检查顾客显示屏接口设置是否正确".
std::string displayOpenFailedText(const std::string& port);

struct Decision {
    // Nothing when the arguments name no command: then message says why (no parameters, or a
    // wrong call), else it is empty.
    std::optional<protocol::Command> command;
    std::string message;
};

// Which command an argument list (element 0 the program) asks for. The parameter count picks the
// words it allows (6 PRINT, 3 PRINTRAW, 2 OPENCASH or STATUS, 5 DISPLAY, 1 UPDATE); the command
// word is parameter 1 upper-cased in ASCII and must equal one of them byte for byte.
Decision decideCommand(const std::vector<std::string>& args);

// "您的调用命令是:" + word + LF + "调用参数不正确".
std::string wrongCallText(const std::string& word);

// How a buffer reaches "USB": through winPrint, which finds the end itself, or through
// winPrintBytes with the length (raw jobs, whose bytes winPrint's end rule cannot frame).
enum class Framing { EndRule, Length };

using protocol::Outcome;

// What a command came to: OK, or the failure's word and the text its box shows.
Outcome failure(std::string_view code, std::string message);
// The outcome of a printing library's result: 0 is OK; our library's codes tell a printer that
// cannot be opened (NO_PRINTER) from a write that failed (WRITE_FAILED) and from a printer that
// takes no job (COVER_OPEN, PAPER_OUT, OFFLINE: failureText, LF and why); any other is FAILED.
Outcome printerOutcome(int libraryResult, const std::string& failureText);

// A job for the printer (already upper-cased): sendToPrinter's outcome. Where devices.ini asks for
// it (check_status, told by winPrinterStatus), the printer's status is read first, and a printer
// whose cover is open, that is out of paper or offline (the first that holds) gets nothing: the
// outcome says so and carries that status; otherwise the status read after the job is carried.
Outcome sendJob(DeviceLibraries& devices, const std::string& printer, const std::string& buffer, Framing framing,
                const std::string& failureText);

// Routes a buffer to the printer: "USB" to winPrint (or winPrintBytes), any other name to
// winWriteFile. The library's result (0: success); WINPRINT_FAILED, with nothing sent, for a
// length-framed buffer to "USB" when the library has no winPrintBytes: half a raw job would be
// worse than none.
int sendToPrinter(DeviceLibraries& devices, const std::string& printer, const std::string& buffer,
                  Framing framing = Framing::EndRule);

// The most feed lines a print job may ask for; more is a wrong call and nothing is sent. Fewer than
// none (a page's -1 for "none") feed nothing.
inline constexpr std::int32_t kMaxFeedLines = 255;

// PRINT job-file printer open-drawer cut feed-lines. FAILED ("打印小票出错") when the job file is
// missing or a folder, the printer's outcome when the library failed; WRONG_CALL when the feed
// lines are above kMaxFeedLines (nothing read or sent). A feed-lines text that is no integer throws
// ValueError before anything is read or sent; a job file that cannot be read throws IOError.
Outcome printReceipt(DeviceLibraries& devices, SupportSystem& system, const std::string& command,
                     const protocol::PrintWords& words);

// PRINTRAW job-file printer: sends the file's bytes exactly as they are, nothing added. Fails with
// the print failure when the file is missing, a folder, empty or too large for one call, or the
// library failed; a file that cannot be read throws IOError.
Outcome printRawJob(DeviceLibraries& devices, SupportSystem& system, const protocol::PrintRawWords& words);

// OPENCASH printer: sends the 7 drawer bytes.
Outcome openCashDrawer(DeviceLibraries& devices, const std::string& printer);

// STATUS printer: OK with the status the library read, whatever it says; NO_PRINTER (connected
// false) when the printer cannot be opened. A library without winPrinterStatus: OK, nothing known.
Outcome readPrinterStatus(DeviceLibraries& devices, const std::string& printer);

// DISPLAY mode amount port baud: DISPLAY_FAILED with the text to show when the port is malformed,
// cannot be opened or the send fails. A port digit or baud rate that is no integer throws
// ValueError before any library call.
Outcome showOnDisplay(DeviceLibraries& devices, const std::string& mode, const std::string& amount,
                      const std::string& port, const std::string& baud);

// How the outcome of a run is reported: told (to the client) before any box, and shown in a box
// unless the page reports it itself.
struct Reporting {
    std::function<void(const Outcome&)> tell;
    bool boxes = true;
};

// Runs the one command the arguments ask for; a failure is told, then shown through system.
// UPDATE shows its own messages.
Outcome dispatchCommand(const std::vector<std::string>& args, DeviceLibraries& devices, SupportSystem& system,
                        const Reporting& reporting = {});

// The whole run of the support program, from binding the libraries to its exit status: the
// command that args() names (called once the libraries are bound), its outcome told through
// writeOutput (the program's standard output) when TOVIPOS_REPORT asks for it, a failure shown in
// a box unless the page reports it. What escapes the command is told as FAILED, then reported as
// the unhandled-error box (in the page's case only on standard error), with exit status 1.
int runSupportProgram(const std::function<std::vector<std::string>()>& args,
                      const std::function<void(const std::string&)>& writeOutput);

}  // namespace tovi::support
