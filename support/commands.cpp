#include "support/commands.h"

#include <limits>

#include "common/integer.h"
#include "common/text.h"
#include "escpos/framing.h"
#include "escpos/writer.h"
#include "support/update.h"

namespace tovi::support {

std::string displayOpenFailedText(const std::string& port) {
    return "顾客显示屏" + port + "打开出错\n请检查顾客显示屏接口设置是否正确";
}

Decision decideCommand(const std::vector<std::string>& args) {
    if (args.size() < 2) return {Command::None, kNoParameters};
    const std::size_t count = args.size() - 1;
    const std::string word = asciiUpper(args[1]);
    static constexpr Command commands[] = {Command::Print, Command::OpenCash, Command::Display, Command::Update,
                                           Command::PrintRaw};
    for (const protocol::CommandWord& row : protocol::kCommandWords) {
        if (row.count == count && word == row.upper) return {commands[static_cast<std::size_t>(row.command)], {}};
    }
    return {Command::Unknown, wrongCallText(word)};
}

std::string wrongCallText(const std::string& word) { return std::string(kYourCommandWas) + word + "\n" + kWrongParameters; }

bool sendToPrinter(DeviceLibraries& devices, const std::string& printer, const std::string& buffer, Framing framing) {
    if (printer == "USB" && framing == Framing::Length) {
        // Another maker's library without the length-taking function: winPrint would stop at the
        // first NUL of an image, so nothing is sent and the operator sees the print failure.
        if (!devices.hasWinPrintBytes()) return false;
        return devices.winPrintBytes(buffer.data(), static_cast<int>(buffer.size())) == 0;
    }
    if (printer == "USB") {
        // winPrint gets no length: it ends the data at the first NUL that is no command parameter
        // (the library's own rule). A job file may end in a half-written command whose parameters
        // would run over the end mark; with this many NULs after the buffer nothing beyond our own
        // memory is ever read.
        std::string terminated = buffer;
        terminated.append(escpos::kMaxNulParameters + 1, '\0');
        return devices.winPrint(terminated.c_str()) == 0;
    }
    // c_str(): the NUL that std::string keeps after its bytes ends the port name's text.
    return devices.winWriteFile(printer.c_str(), buffer.c_str(), static_cast<int>(buffer.size())) == 0;
}

PrintResult printReceipt(DeviceLibraries& devices, SupportSystem& system, const protocol::PrintWords& words) {
    const std::string port = asciiUpper(words.printer);
    const bool drawer = asciiUpper(words.openDrawer) == "TRUE";
    const bool cutPaper = asciiUpper(words.cut) == "TRUE";
    const std::int32_t feed = parseInt32(words.feedLines);
    // A page's feed count must not turn one receipt into a roll of blank paper.
    if (feed > kMaxFeedLines) return PrintResult::WrongCall;
    const FileKind kind = system.fileKind(words.jobFile);
    // A missing job file prints nothing and opens no drawer either.
    if (kind == FileKind::Missing || kind == FileKind::Directory) return PrintResult::Failed;
    const std::string content = system.readFile(words.jobFile);
    return sendToPrinter(devices, port, escpos::buildPrintBuffer(content, drawer, cutPaper, feed))
               ? PrintResult::Printed
               : PrintResult::Failed;
}

bool printRawJob(DeviceLibraries& devices, SupportSystem& system, const protocol::PrintRawWords& words) {
    const std::string port = asciiUpper(words.printer);
    const FileKind kind = system.fileKind(words.jobFile);
    if (kind == FileKind::Missing || kind == FileKind::Directory) return false;
    const std::string content = system.readFile(words.jobFile);
    // The libraries take an int count; an empty job would print nothing and report success.
    if (content.empty() || content.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) return false;
    return sendToPrinter(devices, port, content, Framing::Length);
}

bool openCashDrawer(DeviceLibraries& devices, const std::string& printer) {
    return sendToPrinter(devices, asciiUpper(printer), escpos::drawerBuffer());
}

void showOnDisplay(DeviceLibraries& devices, SupportSystem& system, const std::string& mode,
                   const std::string& amount, const std::string& port, const std::string& baud) {
    if (port.size() < 4) {
        system.showMessage(kBadPortName);
        return;
    }
    // Only the fourth byte names the port: COM3 is 3, COM12 is 1.
    const std::int32_t portNumber = parseInt32(port.substr(3, 1));
    const std::int32_t baudRate = parseInt32(baud);
    if ((devices.comInit(portNumber, baudRate) & 0xFF) == 0) {
        system.showMessage(displayOpenFailedText(port));
        return;
    }
    const std::string message = escpos::displayMessage(mode, amount);
    if ((devices.comSend(message.data(), static_cast<int>(message.size())) & 0xFF) == 0) {
        system.showMessage(kDisplaySendFailed);
        return;
    }
    devices.comRest();
}

void dispatchCommand(const std::vector<std::string>& args, DeviceLibraries& devices, SupportSystem& system) {
    const Decision decision = decideCommand(args);
    switch (decision.command) {
        case Command::None:
        case Command::Unknown:
            system.showMessage(decision.message);
            return;
        case Command::Print:
            switch (printReceipt(devices, system, protocol::printWords(args))) {
                case PrintResult::Printed: break;
                case PrintResult::Failed: system.showMessage(kPrintFailed); break;
                case PrintResult::WrongCall: system.showMessage(wrongCallText(asciiUpper(args[1]))); break;
            }
            return;
        case Command::PrintRaw:
            if (!printRawJob(devices, system, protocol::printRawWords(args))) system.showMessage(kPrintFailed);
            return;
        case Command::OpenCash:
            if (!openCashDrawer(devices, protocol::openCashWords(args).printer)) system.showMessage(kDrawerFailed);
            return;
        case Command::Display: {
            const protocol::DisplayWords w = protocol::displayWords(args);
            showOnDisplay(devices, system, w.mode, w.amount, w.port, w.baud);
            return;
        }
        case Command::Update:
            finishUpdate(system);
            return;
    }
}

}  // namespace tovi::support
