#include "devices/printer_status.h"

#include <algorithm>
#include <chrono>

#include "devices/virtual_printer.h"

namespace tovi::devices {

protocol::DeviceStatus askPrinter(StatusLink& link, escpos::DrawerSense sense, std::string* note) {
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + milliseconds(kStatusTimeMs);
    const auto msLeft = [&] {
        return static_cast<int>(std::max<long long>(0, duration_cast<milliseconds>(deadline - steady_clock::now()).count()));
    };
    escpos::StatusReplies replies(sense);
    char buffer[64];
    std::size_t budget = kMaxStatusBytes;
    std::string why;  // why the reading stopped before it was complete
    const auto read = [&](int timeoutMs, bool keep) {
        const StatusLink::Received r = link.receive(buffer, std::min(sizeof buffer, budget), timeoutMs);
        budget -= r.bytes;
        if (keep) replies.take(std::string_view(buffer, r.bytes));
        if (r.ended) why = r.reason.empty() ? "the printer closed the link" : r.reason;
        else if (budget == 0) why = std::string("it sent more than ").append(std::to_string(kMaxStatusBytes)).append(" bytes");
        return r.bytes;
    };
    // What waited before we asked (a late answer to an earlier reading) answers nothing of ours.
    while (read(0, false) > 0 && why.empty()) {
    }
    while (why.empty()) {
        const std::string_view request = replies.nextRequest();
        if (request.empty()) break;
        if (!link.send(request, msLeft(), &why)) break;
        replies.sent();
        while (why.empty() && replies.waiting()) {
            const int left = msLeft();
            if (left == 0) why = std::string("no answer within ").append(std::to_string(kStatusTimeMs)).append(" ms");
            else read(left, true);
        }
        // A printer answers once: what is there already after its answer came unasked.
        if (why.empty()) read(0, true);
    }

    const protocol::DeviceStatus status = replies.status();
    if (note) {
        const std::string causes = replies.errorCauses();
        if (replies.spoiled()) *note = "the printer answered more than it was asked: its status is unknown";
        else if (status.source != "escpos") *note = "no status from the printer: " + why;
        else if (!why.empty()) *note = "the printer stopped answering: " + why;
        else if (!causes.empty()) *note = "the printer reports an error: " + causes;
        else if (status.error == true) *note = "the printer reports an error";
    }
    return status;
}

namespace {

StatusResult overLink(std::unique_ptr<StatusLink> link, const IoResult& failure, const DeviceSettings& settings) {
    StatusResult out;
    if (!failure.ok()) {
        out.io = failure;
        out.status.connected = false;
    } else if (link) {
        out.status = askPrinter(*link, settings.drawerOpen, &out.note);
    } else {
        out.note = "this port tells no status";
    }
    return out;
}

StatusResult device(const std::string& path, const DeviceSettings& settings) {
    IoResult failure;
    std::unique_ptr<StatusLink> link = openDeviceLink(path, &failure);
    return overLink(std::move(link), failure, settings);
}

StatusResult network(std::string_view address, const DeviceSettings& settings) {
    IoResult failure;
    std::unique_ptr<StatusLink> link = openNetworkLink(address, kConnectTimeoutMs, &failure);
    return overLink(std::move(link), failure, settings);
}

// A file, or a queue we hand jobs to, tells nothing of the printer behind it.
StatusResult unknowable(std::string note) {
    StatusResult out;
    out.note = std::move(note);
    return out;
}

}  // namespace

StatusResult printerStatus(const DeviceSettings& settings, std::string_view libraryFolder, std::string_view port) {
    if (port == "USB") {
        const PrinterTarget target = choosePrinter(settings, libraryFolder, kNativePathStyle);
        switch (target.kind) {
        case PrinterTarget::Kind::VirtualFolder:
            return {{}, virtualStatus(settings.virtualState), {}};
        case PrinterTarget::Kind::Network:
            return network(target.where, settings);
        case PrinterTarget::Kind::WindowsPrinter:
        case PrinterTarget::Kind::DefaultWindowsPrinter:
#ifdef _WIN32
            return spoolerStatus(target.where);
#else
            break;
#endif
        case PrinterTarget::Kind::Device:
            // As winPrint: only a path under /dev/ is a device, any other a file.
            if (target.where.rfind("/dev/", 0) == 0) return device(target.where, settings);
            return unknowable("a file tells no status");
        case PrinterTarget::Kind::Queue:
            return unknowable("a print queue tells no status");
        }
        return unknowable("no printer that tells its status");
    }
    const auto target = resolvePort(settings, port, kNativePathStyle);
    if (!target) {
        StatusResult out{{WINPRINT_NO_PRINTER, std::string("\"").append(printableName(port)).append("\" is no port")}, {}, {}};
        out.status.connected = false;
        return out;
    }
    if (target->network) return network(target->path, settings);
    if (!target->mustExist) return unknowable("a file tells no status");
#ifdef _WIN32
    // \\host\printer: a printer shared through the spooler, whose queue knows its state.
    if (target->path.rfind("\\\\", 0) == 0 && target->path.rfind("\\\\.\\", 0) != 0) return spoolerStatus(target->path);
#endif
    return device(target->path, settings);
}

}  // namespace tovi::devices
