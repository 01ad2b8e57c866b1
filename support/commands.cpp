#include "support/commands.h"

#include "common/integer.h"
#include "common/text.h"
#include "support/escpos.h"
#include "support/update.h"

namespace tovi::support {

std::string displayOpenFailedText(const std::string& port) {
    return "顾客显示屏" + port + "打开出错\n请检查顾客显示屏接口设置是否正确";
}

Decision decideCommand(const std::vector<std::string>& args) {
    if (args.size() < 2) return {Command::None, kNoParameters};
    const std::size_t count = args.size() - 1;
    const std::string word = asciiUpper(args[1]);
    struct Row {
        std::size_t count;
        const char* word;
        Command command;
    };
    static constexpr Row rows[] = {
        {6, "PRINT", Command::Print},
        {2, "OPENCASH", Command::OpenCash},
        {5, "DISPLAY", Command::Display},
        {1, "UPDATE", Command::Update},
    };
    for (const Row& row : rows) {
        if (row.count == count && word == row.word) return {row.command, {}};
    }
    return {Command::Unknown, std::string(kYourCommandWas) + word + "\n" + kWrongParameters};
}

// Enough NULs after a winPrint buffer to end any command the library knows (its longest run of
// NUL parameters is 3).
constexpr std::size_t kEndMarkNuls = 4;

bool sendToPrinter(DeviceLibraries& devices, const std::string& printer, const std::string& buffer) {
    if (printer == "USB") {
        // winPrint gets no length: it ends the data at the first NUL that is no command parameter.
        // A job file may end in a half-written command whose parameters would run over the end
        // mark, so several NULs follow the buffer and nothing beyond our own memory is ever read.
        std::string terminated = buffer;
        terminated.append(kEndMarkNuls, '\0');
        return devices.winPrint(terminated.c_str()) == 0;
    }
    // c_str(): the NUL that std::string keeps after its bytes ends the port name's text.
    return devices.winWriteFile(printer.c_str(), buffer.c_str(), static_cast<int>(buffer.size())) == 0;
}

bool printReceipt(DeviceLibraries& devices, SupportSystem& system, const std::string& jobFile,
                  const std::string& printer, const std::string& openDrawer, const std::string& cut,
                  const std::string& feedLines) {
    const std::string port = asciiUpper(printer);
    const bool drawer = asciiUpper(openDrawer) == "TRUE";
    const bool cutPaper = asciiUpper(cut) == "TRUE";
    const std::int32_t feed = parseInt32(feedLines);
    const FileKind kind = system.fileKind(jobFile);
    // A missing job file prints nothing and opens no drawer either.
    if (kind == FileKind::Missing || kind == FileKind::Directory) return false;
    const std::string content = system.readFile(jobFile);
    return sendToPrinter(devices, port, buildPrintBuffer(content, drawer, cutPaper, feed));
}

bool openCashDrawer(DeviceLibraries& devices, const std::string& printer) {
    return sendToPrinter(devices, asciiUpper(printer), drawerBuffer());
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
    const std::string message = displayMessage(mode, amount);
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
            if (!printReceipt(devices, system, args[2], args[3], args[4], args[5], args[6])) {
                system.showMessage(kPrintFailed);
            }
            return;
        case Command::OpenCash:
            if (!openCashDrawer(devices, args[2])) system.showMessage(kDrawerFailed);
            return;
        case Command::Display:
            showOnDisplay(devices, system, args[2], args[3], args[4], args[5]);
            return;
        case Command::Update:
            finishUpdate(system);
            return;
    }
}

}  // namespace tovi::support
