#include "devices/virtual_printer.h"

#include <cstdio>
#include <exception>

#include "common/paths.h"
#include "escpos/transcript.h"

namespace tovi::devices {

namespace {

constexpr std::string_view kPrefix = "job-";

std::string joinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    const char last = folder.back();
    if (last == '/' || last == '\\') return folder + name;
#ifdef _WIN32
    return folder + "\\" + name;
#else
    return folder + "/" + name;
#endif
}

// Numbers stay below this so that "highest + 1" and the retries cannot wrap around.
constexpr unsigned long kMaxJobNumber = 999999999UL;

}  // namespace

std::string jobFileName(unsigned long number, std::string_view extension) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%06lu", number);
    return std::string(kPrefix) + digits + "." + std::string(extension);
}

std::optional<unsigned long> jobNumberOf(std::string_view name) {
    if (name.size() <= kPrefix.size() || name.substr(0, kPrefix.size()) != kPrefix) return std::nullopt;
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos) return std::nullopt;
    const std::string_view ext = name.substr(dot + 1);
    if (ext != "bin" && ext != "txt" && ext != "png") return std::nullopt;
    const std::string_view digits = name.substr(kPrefix.size(), dot - kPrefix.size());
    if (digits.empty() || digits.size() > 9) return std::nullopt;
    unsigned long n = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + static_cast<unsigned long>(c - '0');
    }
    return n;
}

unsigned long nextJobNumber(const std::vector<std::string>& names) {
    unsigned long highest = 0;
    for (const std::string& n : names)
        if (const auto v = jobNumberOf(n); v && *v > highest) highest = *v;
    return highest + 1;
}

std::vector<CompanionFile> transcriptOnly(std::string_view job) { return {{"txt", escpos::escposTranscript(job)}}; }

IoResult virtualRefusal(const VirtualPrinterState& state) {
    if (state.coverOpen) return {WINPRINT_COVER_OPEN, "the virtual printer's cover is open ([printer] status)"};
    if (state.paperOut) return {WINPRINT_PAPER_OUT, "the virtual printer is out of paper ([printer] status)"};
    if (state.offline) return {WINPRINT_OFFLINE, "the virtual printer is offline ([printer] status)"};
    return {};
}

protocol::DeviceStatus virtualStatus(const VirtualPrinterState& state) {
    protocol::DeviceStatus s;
    s.connected = true;
    s.online = !state.offline && !state.paperOut && !state.coverOpen;
    s.paperLow = state.paperLow || state.paperOut;
    s.paperOut = state.paperOut;
    s.coverOpen = state.coverOpen;
    s.drawerOpen = state.drawerOpen;
    s.error = false;
    s.source = "virtual";
    return s;
}

StoredJob storeVirtualJob(const std::string& folder, std::string_view bytes, const Companions& companions) {
    StoredJob out;
    if (!createFolders(folder)) {
        out.result = {WINPRINT_CANNOT_OPEN, "cannot create the virtual printer folder " + folder};
        return out;
    }
    unsigned long number = nextJobNumber(folderNames(folder).value_or(std::vector<std::string>{}));
    // Another run may take the same number between the listing and the creation: go on to the
    // next one. The bound only stops a folder that refuses every name from looping for ever.
    for (int attempt = 0; attempt < 1000 && number <= kMaxJobNumber; ++attempt, ++number) {
        const std::string bin = joinPath(folder, jobFileName(number, "bin"));
        std::string reason;
        const CreateOutcome made = createNewFile(bin, bytes, &reason);
        if (made == CreateOutcome::Exists) continue;
        if (made == CreateOutcome::Failed) {
            out.result = {WINPRINT_CANNOT_OPEN, reason};
            return out;
        }
        out.binPath = bin;
        // The transcript and the picture are for reading only: the job counts as printed without them.
        std::vector<CompanionFile> files;
        try {
            files = companions(bytes);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "winprint: nothing beside %s: %s\n", bin.c_str(), e.what());
        }
        for (const CompanionFile& f : files) {
            const std::string path = joinPath(folder, jobFileName(number, f.extension));
            reason.clear();
            if (createNewFile(path, f.bytes, &reason) != CreateOutcome::Created)
                std::fprintf(stderr, "winprint: no %s for %s: %s\n", f.extension.c_str(), bin.c_str(),
                             reason.empty() ? "the file exists" : reason.c_str());
        }
        return out;
    }
    out.result = {WINPRINT_CANNOT_OPEN, "no free job number in " + folder};
    return out;
}

}  // namespace tovi::devices
