// The virtual printer's picture of a job: the paper as a thermal receipt printer with 8 dots a
// millimetre would print it (576 dots across 80 mm paper, 384 across 58 mm), and the drawer pulses
// and cuts as marks beside it. Native builds only (zint, FreeType, fontconfig, libpng).
//
// What it draws: GB2312 (code page 936) and ASCII text in fonts A (12 x 24) and B (9 x 17), Chinese
// 24 x 24, with ESC ! and GS ! sizes, ESC E / ESC G bold, ESC - underline, GS B reverse, ESC SP
// spacing, HT and ESC D tabs, ESC $ positions, ESC a alignment, GS L / GS W margins; LF, ESC d and
// ESC J feeds with ESC 2 / ESC 3 line spacing; GS v 0 and ESC * images; GS ( k QR codes (model 2
// and Micro QR, module size, error level); GS k bar codes (UPC-A, UPC-E, EAN-13, EAN-8, CODE39,
// ITF, CODABAR, CODE93, CODE128) with GS h / GS w / GS H / GS f; GS V, ESC i and ESC m cuts and
// ESC p / DLE DC4 drawer pulses as marks. Commands without a mark on paper (ESC @, ESC t, FS &,
// status requests ...) are followed. Every other command is skipped by its length and listed.
//
// Whatever the job holds, the picture's memory stays below a fixed size (2.5 m of paper, one line,
// at most kMaxMarks marks and kMaxSkipped listed commands, the characters and symbols it has drawn)
// and its time grows with the job's length: where a bound is reached the picture ends, and says
// where and why (cutShort).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "escpos/transcript.h"

namespace tovi::escpos {

// At most this much paper (2.5 m) is drawn; a job that feeds further is cut short there.
inline constexpr int kMaxPaperDots = 20000;
// At most this many cuts and drawer pulses are marked, and this many commands not drawn listed.
inline constexpr std::size_t kMaxMarks = 1000;
inline constexpr std::size_t kMaxSkipped = 10000;

struct ReceiptMark {
    enum class Kind { FullCut, PartialCut, Drawer } kind;
    int y = 0;          // dots from the top of the paper
    std::string label;  // written beside the paper
};

struct ReceiptPicture {
    int width = 0;   // dots across the paper
    int height = 0;  // dots of paper used
    std::vector<unsigned char> dots;  // width * height, row by row; 1 is a printed dot
    std::vector<ReceiptMark> marks;
    std::vector<std::size_t> skipped;  // offsets in the job of the commands not drawn, in order
    std::optional<PictureStop> cutShort;  // where the picture ends before the job does
    bool dot(int x, int y) const {
        return x >= 0 && y >= 0 && x < width && y < height &&
               dots[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)];
    }
};

// The picture of the job on paper `paperWidth` dots wide. Throws Error when no font can be found.
ReceiptPicture renderReceipt(std::string_view job, int paperWidth);

// The picture as PNG file bytes: black print on white paper, a grey strip beside it with the marks
// in red. Throws Error when the image cannot be made.
std::string receiptPng(const ReceiptPicture& picture);

}  // namespace tovi::escpos
