// The virtual printer: a folder that keeps every job as a new numbered file.
//   job-000001.bin  the exact bytes of the job
//   job-000001.txt  a readable UTF-8 transcript of it (escposTranscript)
//   job-000001.png  native builds: the picture of the paper (escpos/picture.h)
// Numbers are never reused: a job takes the number after the highest one in the folder and is
// created exclusively, so parallel runs of the support program never overwrite each other.
// The printer is in the state devices.ini gives it ([printer] status); in some states it takes no
// job, as a real printer would not.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/support_protocol.h"
#include "devices/devio.h"

namespace tovi::devices {

// "job-000042.bin" for 42 and "bin"; wider numbers keep all their digits.
std::string jobFileName(unsigned long number, std::string_view extension);

// The number of a job file name ("job-000042.bin", ".txt" or ".png"), or nothing for other names.
std::optional<unsigned long> jobNumberOf(std::string_view fileName);

// One more than the highest job number among the names (1 for none).
unsigned long nextJobNumber(const std::vector<std::string>& fileNames);

struct StoredJob {
    IoResult result;
    std::string binPath;  // set on success
};

// A file kept beside a job's .bin: its extension and its bytes.
struct CompanionFile {
    std::string extension;
    std::string bytes;
};
// What goes beside a job, made once the job itself is stored.
using Companions = std::function<std::vector<CompanionFile>(std::string_view job)>;

// The transcript alone.
std::vector<CompanionFile> transcriptOnly(std::string_view job);

// Why a virtual printer in this state takes no job: WINPRINT_COVER_OPEN, WINPRINT_PAPER_OUT or
// WINPRINT_OFFLINE, the first that holds; WINPRINT_OK when it takes jobs.
IoResult virtualRefusal(const VirtualPrinterState& state);

// What it tells of itself, source "virtual". As a real printer, it is offline while out of paper
// or open; it knows its drawer and has no errors.
protocol::DeviceStatus virtualStatus(const VirtualPrinterState& state);

// Creates the folder when missing, then stores the job under the next free number, and after it
// the companion files under the same number. The job counts as printed once its .bin is there: a
// companion that cannot be made or written is reported on standard error only.
StoredJob storeVirtualJob(const std::string& folder, std::string_view bytes, const Companions& companions = transcriptOnly);

}  // namespace tovi::devices
