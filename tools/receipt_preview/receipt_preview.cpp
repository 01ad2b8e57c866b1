// receipt-preview: the picture that the virtual printer makes of a job, for any job file.
//
//   receipt-preview [--paper 58|80] <job file> <picture.png>
//
// Paper 80 mm (576 dots) unless told. The commands the picture does not draw are listed on
// standard error, one a line, as the transcript names them. Status 0 when the picture is written,
// 2 for a wrong call, 1 for anything else.
#include <cstdio>
#include <string>
#include <vector>

#include "common/entry.h"
#include "common/files.h"
#include "common/paths.h"
#include "devices/device_settings.h"
#include "escpos/framing.h"
#include "escpos/picture.h"
#include "escpos/transcript.h"

namespace {

using namespace tovi;

constexpr const char* kUsage = "usage: receipt-preview [--paper 58|80] <job file> <picture.png>\n";

// Writes beside the target and moves into place: a picture is there whole or not at all.
void writePicture(const std::string& bytes, const std::string& to) {
    const std::string temp = to + "." + randomTag() + ".tmp";
    OutputFile out(temp);
    out.write(bytes);
    out.commit();
    if (!replaceFile(temp, to)) throw ioError("cannot replace " + to);
    out.release();
}

int preview(const std::vector<std::string>& args) {
    int paperMm = 80;
    std::vector<std::string> files;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--paper" && i + 1 < args.size() && (args[i + 1] == "58" || args[i + 1] == "80")) {
            paperMm = std::stoi(args[++i]);
        } else if (args[i].starts_with("--")) {
            std::fputs(kUsage, stderr);
            return 2;
        } else {
            files.push_back(args[i]);
        }
    }
    if (files.size() != 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const std::string job = readFile(files[0]);
    const escpos::ReceiptPicture picture = escpos::renderReceipt(job, devices::paperDots(paperMm));
    for (const std::size_t at : picture.skipped) {
        const auto* p = reinterpret_cast<const unsigned char*>(job.data()) + at;
        const std::size_t length = escpos::escposElement(p, job.size() - at).length;
        std::fprintf(stderr, "not drawn, at byte %zu: %s\n", at,
                     escpos::escposTranscript(std::string_view(job).substr(at, length), {0}).c_str());
    }
    if (picture.cutShort)
        std::fprintf(stderr, "the picture stops at byte %zu: %s\n", picture.cutShort->at, picture.cutShort->why.c_str());
    writePicture(escpos::receiptPng(picture), files[1]);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    return tovi::runReportingErrorsOnConsole([&] { return preview(std::vector<std::string>(argv, argv + argc)); });
}
