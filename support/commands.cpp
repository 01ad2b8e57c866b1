#include "support/commands.h"

#include <cstdlib>
#include <exception>
#include <limits>

#include "common/ascii.h"
#include "common/entry.h"
#include "common/integer.h"
#include "common/messages.h"
#include "common/text.h"
#include "devices/status_record.h"
#include "devices/winprint.h"
#include "escpos/framing.h"
#include "escpos/writer.h"
#include "support/update.h"

namespace tovi::support {

std::string displayOpenFailedText(const std::string& port) {
    return "顾客显示屏" + port + "打开出错\n请检查顾客显示屏接口设置是否正确";
}

Decision decideCommand(const std::vector<std::string>& args) {
    if (args.size() < 2) return {std::nullopt, kNoParameters};
    const std::size_t count = args.size() - 1;
    const std::string word = ascii::uppered(args[1]);
    for (const protocol::CommandWord& row : protocol::kCommandWords) {
        if (row.count == count && word == row.upper) return {row.command, {}};
    }
    return {std::nullopt, wrongCallText(word)};
}

std::string wrongCallText(const std::string& word) { return std::string(kYourCommandWas) + word + "\n" + kWrongParameters; }

Outcome failure(std::string_view code, std::string message) { return {std::string(code), std::move(message), std::nullopt}; }

namespace {

Outcome refusal(std::string_view code, const std::string& failureText, const char* why) {
    return failure(code, std::string(failureText).append(1, '\n').append(why));
}

// The status winPrinterStatus read; nothing when the library lacks it or was asked to check only
// and devices.ini asks for no check.
std::optional<protocol::DeviceStatus> askStatus(DeviceLibraries& devices, const std::string& printer, bool checkOnly,
                                                int* result) {
    if (!devices.hasPrinterStatus()) return std::nullopt;
    WinPrinterStatus record{};
    record.size = sizeof record;
    *result = devices.printerStatus(printer.c_str(), checkOnly ? 1 : 0, &record);
    if (*result == WINPRINT_NOT_ASKED) return std::nullopt;
    return devices::statusOfRecord(record);
}

}  // namespace

Outcome printerOutcome(int libraryResult, const std::string& failureText) {
    switch (libraryResult) {
        case WINPRINT_OK: return {};
        case WINPRINT_NO_PRINTER:
        case WINPRINT_CANNOT_OPEN: return failure(protocol::kOutcomeNoPrinter, failureText);
        case WINPRINT_SHORT_WRITE: return failure(protocol::kOutcomeWriteFailed, failureText);
        case WINPRINT_COVER_OPEN: return refusal(protocol::kOutcomeCoverOpen, failureText, kCoverOpenText);
        case WINPRINT_PAPER_OUT: return refusal(protocol::kOutcomePaperOut, failureText, kPaperOutText);
        case WINPRINT_OFFLINE: return refusal(protocol::kOutcomeOffline, failureText, kOfflineText);
        default: return failure(protocol::kOutcomeFailed, failureText);
    }
}

Outcome sendJob(DeviceLibraries& devices, const std::string& printer, const std::string& buffer, Framing framing,
                const std::string& failureText) {
    int result = WINPRINT_OK;
    const std::optional<protocol::DeviceStatus> before = askStatus(devices, printer, true, &result);
    // A printer that did not answer tells nothing here, and is printed to as ever.
    std::optional<int> refused;
    if (before && before->coverOpen == true) refused = WINPRINT_COVER_OPEN;
    else if (before && before->paperOut == true) refused = WINPRINT_PAPER_OUT;
    else if (before && before->online == false) refused = WINPRINT_OFFLINE;
    if (refused) {
        Outcome out = printerOutcome(*refused, failureText);
        out.status = before;
        return out;
    }
    Outcome out = printerOutcome(sendToPrinter(devices, printer, buffer, framing), failureText);
    if (before) out.status = askStatus(devices, printer, true, &result);
    return out;
}

Outcome readPrinterStatus(DeviceLibraries& devices, const std::string& printer) {
    int result = WINPRINT_OK;
    std::optional<protocol::DeviceStatus> status = askStatus(devices, ascii::uppered(printer), false, &result);
    Outcome out;
    if (result == WINPRINT_NO_PRINTER || result == WINPRINT_CANNOT_OPEN) {
        out = failure(protocol::kOutcomeNoPrinter, kStatusFailed);
        status = protocol::DeviceStatus{};
        status->connected = false;
    } else if (result != WINPRINT_OK) {
        out = failure(protocol::kOutcomeFailed, kStatusFailed);
    }
    out.status = status.value_or(protocol::DeviceStatus{});
    return out;
}

int sendToPrinter(DeviceLibraries& devices, const std::string& printer, const std::string& buffer, Framing framing) {
    if (printer == "USB" && framing == Framing::Length) {
        // Another maker's library without the length-taking function: winPrint would stop at the
        // first NUL of an image, so nothing is sent and the operator sees the print failure.
        if (!devices.hasWinPrintBytes()) return WINPRINT_FAILED;
        return devices.winPrintBytes(buffer.data(), static_cast<int>(buffer.size()));
    }
    if (printer == "USB") {
        // winPrint gets no length: it ends the data at the first NUL that is no command parameter
        // (the library's own rule). A job file may end in a half-written command whose parameters
        // would run over the end mark; with this many NULs after the buffer nothing beyond our own
        // memory is ever read.
        std::string terminated = buffer;
        terminated.append(escpos::kMaxNulParameters + 1, '\0');
        return devices.winPrint(terminated.c_str());
    }
    // c_str(): the NUL that std::string keeps after its bytes ends the port name's text.
    return devices.winWriteFile(printer.c_str(), buffer.c_str(), static_cast<int>(buffer.size()));
}

Outcome printReceipt(DeviceLibraries& devices, SupportSystem& system, const std::string& command,
                     const protocol::PrintWords& words) {
    const std::string port = ascii::uppered(words.printer);
    const bool drawer = ascii::uppered(words.openDrawer) == "TRUE";
    const bool cutPaper = ascii::uppered(words.cut) == "TRUE";
    const std::int32_t feed = parseInt32(words.feedLines);
    // A page's feed count must not turn one receipt into a roll of blank paper.
    if (feed > kMaxFeedLines) return failure(protocol::kOutcomeWrongCall, wrongCallText(ascii::uppered(command)));
    const EntryKind kind = system.fileKind(words.jobFile);
    // A missing job file prints nothing and opens no drawer either.
    if (kind == EntryKind::Missing || kind == EntryKind::Folder) return failure(protocol::kOutcomeFailed, kPrintFailed);
    const std::string content = system.readFile(words.jobFile);
    return sendJob(devices, port, escpos::buildPrintBuffer(content, drawer, cutPaper, feed), Framing::EndRule, kPrintFailed);
}

Outcome printRawJob(DeviceLibraries& devices, SupportSystem& system, const protocol::PrintRawWords& words) {
    const std::string port = ascii::uppered(words.printer);
    const EntryKind kind = system.fileKind(words.jobFile);
    if (kind == EntryKind::Missing || kind == EntryKind::Folder) return failure(protocol::kOutcomeFailed, kPrintFailed);
    const std::string content = system.readFile(words.jobFile);
    // The libraries take an int count; an empty job would print nothing and report success.
    if (content.empty() || content.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        return failure(protocol::kOutcomeFailed, kPrintFailed);
    }
    return sendJob(devices, port, content, Framing::Length, kPrintFailed);
}

Outcome openCashDrawer(DeviceLibraries& devices, const std::string& printer) {
    return sendJob(devices, ascii::uppered(printer), escpos::drawerBuffer(), Framing::EndRule, kDrawerFailed);
}

Outcome showOnDisplay(DeviceLibraries& devices, const std::string& mode, const std::string& amount,
                      const std::string& port, const std::string& baud) {
    if (port.size() < 4) return failure(protocol::kOutcomeDisplayFailed, kBadPortName);
    // Only the fourth byte names the port: COM3 is 3, COM12 is 1.
    const std::int32_t portNumber = parseInt32(port.substr(3, 1));
    const std::int32_t baudRate = parseInt32(baud);
    if ((devices.comInit(portNumber, baudRate) & 0xFF) == 0) {
        return failure(protocol::kOutcomeDisplayFailed, displayOpenFailedText(port));
    }
    const std::string message = escpos::displayMessage(mode, amount);
    if ((devices.comSend(message.data(), static_cast<int>(message.size())) & 0xFF) == 0) {
        return failure(protocol::kOutcomeDisplayFailed, kDisplaySendFailed);
    }
    devices.comRest();
    return {};
}

namespace {

Outcome runCommand(const std::vector<std::string>& args, DeviceLibraries& devices, SupportSystem& system) {
    const Decision decision = decideCommand(args);
    if (!decision.command) return failure(protocol::kOutcomeWrongCall, decision.message);
    using protocol::Command;
    switch (*decision.command) {
        case Command::Print: return printReceipt(devices, system, args[1], protocol::printWords(args));
        case Command::PrintRaw: return printRawJob(devices, system, protocol::printRawWords(args));
        case Command::OpenCash: return openCashDrawer(devices, protocol::openCashWords(args).printer);
        case Command::Display: {
            const protocol::DisplayWords w = protocol::displayWords(args);
            return showOnDisplay(devices, w.mode, w.amount, w.port, w.baud);
        }
        case Command::Update: finishUpdate(system); return {};
        case Command::Status: return readPrinterStatus(devices, protocol::statusWords(args).printer);
    }
    return {};
}

}  // namespace

Outcome dispatchCommand(const std::vector<std::string>& args, DeviceLibraries& devices, SupportSystem& system,
                        const Reporting& reporting) {
    const Outcome outcome = runCommand(args, devices, system);
    if (reporting.tell) reporting.tell(outcome);
    if (outcome.code != protocol::kOutcomeOk && reporting.boxes) system.showMessage(outcome.message);
    return outcome;
}

int runSupportProgram(const std::function<std::vector<std::string>()>& args,
                      const std::function<void(const std::string&)>& writeOutput) {
    const char* asked = std::getenv(protocol::kReportVariable);
    const std::string_view mode = asked ? asked : "";
    Reporting reporting;
    if (mode == protocol::kReportBoxes || mode == protocol::kReportPage) {
        reporting.tell = [&](const Outcome& o) { writeOutput(protocol::outcomeLine(o)); };
    }
    reporting.boxes = mode != protocol::kReportPage;
    try {
        // Binding comes first: without both libraries no command runs, UPDATE included.
        auto devices = BoundDevices::bind();
        const auto system = makeSystem(desktopWindow());
        dispatchCommand(args(), devices, *system, reporting);
        return 0;
    } catch (...) {
        const std::exception_ptr error = std::current_exception();
        std::string text = unhandledErrorText(error);
        try {
            std::rethrow_exception(error);
        } catch (const BindError& e) {
            text = e.what();
        } catch (...) {
        }
        while (!text.empty() && text.back() == '\n') text.pop_back();
        if (reporting.tell) reporting.tell(failure(protocol::kOutcomeFailed, text));
        if (reporting.boxes) return runReportingErrors([&]() -> int { std::rethrow_exception(error); });
        writeStderrLine(text);
        return 1;
    }
}

}  // namespace tovi::support
