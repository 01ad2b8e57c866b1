// What the client and the support program agree on: the command words, the words that follow each
// one in command-line order, and the job files (the hand-off file: update/handoff.h). The client builds its command
// lines here and the support program reads them back here, so the two cannot drift apart.
//
// Values go onto the command line as they stand, joined by single blanks: no quoting. A value with
// a blank or a double quote therefore changes the word count, and the support program reports a
// wrong call (the client refuses control characters before it builds a line).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tovi::protocol {

// Job files, bare names in the shared current folder: text jobs written by the client in code
// page 936, the raw job as the page's bytes.
inline constexpr std::string_view kReceiptFile = "PrintOut1.txt";
inline constexpr std::string_view kSettlementFile = "RiJie.txt";
// The exact bytes of a raw job (toviPrintRaw), sent to the printer as they are.
inline constexpr std::string_view kRawJobFile = "PrintRaw1.bin";

enum class Command { Print, OpenCash, Display, Update, PrintRaw };

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
};
// Indexed by Command.
static_assert(kCommandWords[static_cast<std::size_t>(Command::Print)].command == Command::Print &&
              kCommandWords[static_cast<std::size_t>(Command::OpenCash)].command == Command::OpenCash &&
              kCommandWords[static_cast<std::size_t>(Command::Display)].command == Command::Display &&
              kCommandWords[static_cast<std::size_t>(Command::Update)].command == Command::Update &&
              kCommandWords[static_cast<std::size_t>(Command::PrintRaw)].command == Command::PrintRaw);

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
std::string updateCommandLine();

// The words back from a split argument list (element 0 the program, element 1 the command word)
// whose count is already known to be the command's.
PrintWords printWords(const std::vector<std::string>& args);
PrintRawWords printRawWords(const std::vector<std::string>& args);
OpenCashWords openCashWords(const std::vector<std::string>& args);
DisplayWords displayWords(const std::vector<std::string>& args);

}  // namespace tovi::protocol
