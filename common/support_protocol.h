// What the client and the support program agree on: the command words, the words that follow each
// one in command-line order, and the job files (the hand-off file: update/handoff.h). The client builds its command
// lines here and the support program reads them back here, so the two cannot drift apart.
//
// Values go onto the command line as they stand, joined by single blanks: no quoting. A value with
// a blank or a double quote therefore changes the word count, and the support program reports a
// wrong call (the client refuses control characters before it builds a line).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tovi::protocol {

// Job files, bare names in the shared current folder: text jobs written by the client in code
// page 936, the raw job as the page's bytes.
inline constexpr std::string_view kReceiptFile = "PrintOut1.txt";
inline constexpr std::string_view kSettlementFile = "RiJie.txt";
// The exact bytes of a raw job (toviPrintRaw), sent to the printer as they are.
inline constexpr std::string_view kRawJobFile = "PrintRaw1.bin";

enum class Command { Print, OpenCash, Display, Update, PrintRaw, Status };

struct CommandWord {
    Command command;
    std::string_view word;   // as the client sends it
    std::string_view upper;  // as the support program compares it, after upper-casing parameter 1
    std::size_t count;       // parameters including the command word itself
};

inline constexpr CommandWord kCommandWords[] = {
    {Command::Print, "print", "PRINT", 6},
    {Command::OpenCash, "opencash", "OPENCASH", 2},
    {Command::Display, "display", "DISPLAY", 5},
    {Command::Update, "update", "UPDATE", 1},
    {Command::PrintRaw, "printraw", "PRINTRAW", 3},
    {Command::Status, "status", "STATUS", 2},
};
// Indexed by Command.
static_assert(kCommandWords[static_cast<std::size_t>(Command::Print)].command == Command::Print &&
              kCommandWords[static_cast<std::size_t>(Command::OpenCash)].command == Command::OpenCash &&
              kCommandWords[static_cast<std::size_t>(Command::Display)].command == Command::Display &&
              kCommandWords[static_cast<std::size_t>(Command::Update)].command == Command::Update &&
              kCommandWords[static_cast<std::size_t>(Command::PrintRaw)].command == Command::PrintRaw &&
              kCommandWords[static_cast<std::size_t>(Command::Status)].command == Command::Status);

// The words after "print", in order.
struct PrintWords {
    std::string jobFile;
    std::string printer;     // "USB" (any case) or a port or device name
    std::string openDrawer;  // "TRUE" (any case) pulses the drawer
    std::string cut;         // "TRUE" (any case) cuts the paper
    std::string feedLines;   // decimal integer
    bool operator==(const PrintWords&) const = default;
};

// The words after "printraw", in order.
struct PrintRawWords {
    std::string jobFile;
    std::string printer;  // as for "print"
    bool operator==(const PrintRawWords&) const = default;
};

// The word after "opencash".
struct OpenCashWords {
    std::string printer;
    bool operator==(const OpenCashWords&) const = default;
};

// The word after "status": the printer whose status is read, as for "print".
struct StatusWords {
    std::string printer;
    bool operator==(const StatusWords&) const = default;
};

// The words after "display", in order (the page names the port first, the line has it third).
struct DisplayWords {
    std::string mode;
    std::string amount;
    std::string port;  // "COM" and one digit
    std::string baud;
    bool operator==(const DisplayWords&) const = default;
};

// The parameter text of tovipos_print (without the program), UTF-8.
std::string commandLine(const PrintWords& words);
std::string commandLine(const PrintRawWords& words);
std::string commandLine(const OpenCashWords& words);
std::string commandLine(const DisplayWords& words);
std::string commandLine(const StatusWords& words);
std::string updateCommandLine();

// The words back from a split argument list (element 0 the program, element 1 the command word)
// whose count is already known to be the command's.
PrintWords printWords(const std::vector<std::string>& args);
PrintRawWords printRawWords(const std::vector<std::string>& args);
OpenCashWords openCashWords(const std::vector<std::string>& args);
DisplayWords displayWords(const std::vector<std::string>& args);
StatusWords statusWords(const std::vector<std::string>& args);

// The outcome of a device command, told to the client without changing the command line or the
// exit code: the client names the way it wants to hear it in this environment variable, and the
// support program then writes one outcome line on its standard output before any box. Without the
// variable (a shop's own script runs the program) nothing is written and every box shows.
inline constexpr const char* kReportVariable = "TOVIPOS_REPORT";
inline constexpr std::string_view kReportBoxes = "boxes";  // the outcome line, and the boxes as always
inline constexpr std::string_view kReportPage = "page";    // the outcome line, no box: the page reports

// The words of an outcome line. Printers: NO_PRINTER when the printer, port or device cannot be
// opened, WRITE_FAILED when a write fails after opening.
inline constexpr std::string_view kOutcomeOk = "OK";
inline constexpr std::string_view kOutcomeWrongCall = "WRONG_CALL";
inline constexpr std::string_view kOutcomeNoPrinter = "NO_PRINTER";
inline constexpr std::string_view kOutcomeWriteFailed = "WRITE_FAILED";
inline constexpr std::string_view kOutcomeDisplayFailed = "DISPLAY_FAILED";
inline constexpr std::string_view kOutcomeFailed = "FAILED";
// A job refused before any byte was sent, because the printer said so (first that holds, in this
// order): its cover is open, it is out of paper, it is offline.
inline constexpr std::string_view kOutcomeCoverOpen = "COVER_OPEN";
inline constexpr std::string_view kOutcomePaperOut = "PAPER_OUT";
inline constexpr std::string_view kOutcomeOffline = "OFFLINE";

// What a printer tells of itself. Each fact is nothing where the link cannot know it.
struct DeviceStatus {
    std::optional<bool> connected;
    std::optional<bool> online;
    std::optional<bool> paperLow;  // true whenever paperOut is
    std::optional<bool> paperOut;
    std::optional<bool> coverOpen;
    std::optional<bool> drawerOpen;  // only with the till's drawer polarity known
    std::optional<bool> error;
    std::string source{"none"};  // one of kStatusSources
    bool operator==(const DeviceStatus&) const = default;
};
// The facts of a status by the names the page and the status line give them, in their order.
using StatusFact = std::optional<bool> DeviceStatus::*;
inline constexpr std::pair<const char*, StatusFact> kStatusFacts[] = {
    {"connected", &DeviceStatus::connected}, {"online", &DeviceStatus::online},
    {"paperLow", &DeviceStatus::paperLow},   {"paperOut", &DeviceStatus::paperOut},
    {"coverOpen", &DeviceStatus::coverOpen}, {"drawerOpen", &DeviceStatus::drawerOpen},
    {"error", &DeviceStatus::error},
};
// Where a status came from: the printer answered (ESC/POS real-time status), the Windows print
// queue's state only, the virtual printer's settings, or nowhere.
// In the order of the device library's WINPRINT_SOURCE_* numbers.
inline constexpr std::string_view kStatusSources[] = {"none", "escpos", "spooler", "virtual"};

struct Outcome {
    std::string code{kOutcomeOk};  // one of the words above
    std::string message;           // the operator's text of the box; empty for OK
    std::optional<DeviceStatus> status;  // the printer's status, where the command read it
    bool operator==(const Outcome&) const = default;
};

// The outcome's lines: first, when it has a status,
//   "tovipos-status connected=V online=V paperLow=V paperOut=V coverOpen=V drawerOpen=V error=V source=S" LF
// with V one of 1, 0, - (unknown), then "tovipos-outcome " code " " message LF, the message's
// backslashes and line breaks escaped.
std::string outcomeLine(const Outcome& outcome);
// The last outcome line in a program's standard output (other lines are someone else's), with the
// status line right before it, if that is well-formed; none when there is no well-formed outcome line.
std::optional<Outcome> readOutcome(std::string_view output);

}  // namespace tovi::protocol
