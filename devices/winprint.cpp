// The exported functions of the printing library. Each one is a catch barrier: nothing thrown
// inside may reach the caller, which is C code.
#include <cstdio>
#include <exception>
#include <vector>

#include "common/boundary.h"
#include "devices/devio.h"
#include "devices/network_printer.h"
#include "devices/printer_status.h"
#include "devices/status_record.h"
#include "devices/virtual_printer.h"
#include "devices/winprint.h"
#include "escpos/framing.h"
#include "escpos/transcript.h"
#ifdef TOVI_RECEIPT_PICTURES
#include "escpos/picture.h"
#endif

static_assert(tovi::escpos::kMaxNulParameters == WINPRINT_MAX_NUL_PARAMETERS);

namespace {

using namespace tovi::devices;
using namespace tovi::escpos;

int report(const IoResult& r) {
    if (!r.ok()) std::fprintf(stderr, "winprint: %s\n", r.reason.c_str());
    return r.code;
}

// The transcript beside a virtual job, and where the libraries for it are built in, its picture;
// commands the picture skips are marked in the transcript.
std::vector<CompanionFile> describeJob(std::string_view job, [[maybe_unused]] const DeviceSettings& settings) {
#ifdef TOVI_RECEIPT_PICTURES
    try {
        const ReceiptPicture picture = renderReceipt(job, paperDots(settings.paperMm));
        std::vector<CompanionFile> files = {{"txt", escposTranscript(job, picture.skipped, picture.cutShort)}};
        files.push_back({"png", receiptPng(picture)});
        if (picture.cutShort)
            std::fprintf(stderr, "winprint: the picture stops at byte %zu: %s\n", picture.cutShort->at,
                         picture.cutShort->why.c_str());
        return files;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "winprint: no picture: %s\n", e.what());
    }
#endif
    return transcriptOnly(job);
}

int printJob(std::string_view job) {
    const DeviceSettings settings = loadDeviceSettings("winprint");
    const PrinterTarget target = choosePrinter(settings, libraryFolder(), kNativePathStyle);
    switch (target.kind) {
    case PrinterTarget::Kind::VirtualFolder:
        // A printer that is open, out of paper or offline stores nothing, a drawer pulse neither.
        if (const IoResult refused = virtualRefusal(settings.virtualState); !refused.ok()) return report(refused);
        return report(storeVirtualJob(target.where, job, [&](std::string_view j) { return describeJob(j, settings); }).result);
    case PrinterTarget::Kind::Network:
        return report(printOverNetwork(target.where, job, kConnectTimeoutMs, settings.printerWriteTimeoutMs));
    case PrinterTarget::Kind::WindowsPrinter:
    case PrinterTarget::Kind::Queue:
        return report(printRaw(target.where, job));
    case PrinterTarget::Kind::DefaultWindowsPrinter:
        return report(printRaw("", job));
    case PrinterTarget::Kind::Device:
        // A printer under /dev/ is never created (an unplugged printer must not become a file).
        return report(writeToPath(target.where, target.where.rfind("/dev/", 0) == 0, job,
                                  settings.printerWriteTimeoutMs));
    }
    return report({WINPRINT_FAILED, "unknown printer kind"});
}

}  // namespace

extern "C" int winPrint(const char* data) {
    return tovi::guardedExport({"winprint"}, WINPRINT_FAILED, [&] {
        if (!data) return report({WINPRINT_BAD_ARGUMENT, "winPrint: no data"});
        const auto* bytes = reinterpret_cast<const unsigned char*>(data);
        return printJob(std::string_view(data, escposJobLength(bytes)));
    });
}

extern "C" int winPrintBytes(const char* data, int length) {
    return tovi::guardedExport({"winprint"}, WINPRINT_FAILED, [&] {
        if ((!data && length != 0) || length < 0)
            return report({WINPRINT_BAD_ARGUMENT, "winPrintBytes: no data or a negative length"});
        return printJob(std::string_view(data ? data : "", static_cast<std::size_t>(length)));
    });
}

extern "C" int winWriteFile(const char* port, const char* data, int length) {
    return tovi::guardedExport({"winprint"}, WINPRINT_FAILED, [&] {
        if (!port || (!data && length != 0) || length < 0)
            return report({WINPRINT_BAD_ARGUMENT, "winWriteFile: no port, no data or a negative length"});
        const DeviceSettings settings = loadDeviceSettings("winprint");
        const auto target = resolvePort(settings, port, kNativePathStyle);
        // Nothing is opened or created for a name that is not a port: the name comes from the page.
        if (!target)
            return report({WINPRINT_NO_PRINTER, "winWriteFile: \"" + printableName(port) +
                                                    "\" is no port (COM1-COM256, LPT1-LPT256 or a name in devices.ini [ports])"});
        const std::string_view bytes(data ? data : "", static_cast<std::size_t>(length));
        if (target->network)
            return report(printOverNetwork(target->path, bytes, kConnectTimeoutMs, settings.printerWriteTimeoutMs));
        return report(writeToPath(target->path, target->mustExist, bytes, settings.printerWriteTimeoutMs));
    });
}

extern "C" int winPrinterStatus(const char* port, int checkOnly, WinPrinterStatus* status) {
    return tovi::guardedExport({"winprint"}, WINPRINT_FAILED, [&] {
        // A caller built against an older, smaller record: we cannot know which fields it has room for.
        if (!port || !status || status->size < static_cast<int>(sizeof(WinPrinterStatus)))
            return report({WINPRINT_BAD_ARGUMENT, "winPrinterStatus: no port, or no status record of its size"});
        *status = statusRecord({});
        const DeviceSettings settings = loadDeviceSettings("winprint");
        // Without check_status a job asks the printer nothing: not a byte goes to it.
        if (checkOnly && !settings.checkStatus) return WINPRINT_NOT_ASKED;
        const StatusResult read = printerStatus(settings, libraryFolder(), port);
        *status = statusRecord(read.status);
        if (!read.note.empty()) std::fprintf(stderr, "winprint: status of %s: %s\n", printableName(port).c_str(), read.note.c_str());
        return report(read.io);
    });
}
