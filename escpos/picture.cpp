// The receipt picture: an ESC/POS interpreter that prints onto a bitmap instead of paper.
#include "escpos/picture.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <optional>

#include "common/text.h"
#include "escpos/commands.h"
#include "escpos/framing.h"
#include "escpos/picture_codes.h"
#include "escpos/picture_font.h"

namespace tovi::escpos {

namespace {

// The printer's power-on line spacing: 1/6 inch on a 180-dot head, 30 dots.
constexpr int kDefaultLineSpacing = 30;
// Bar codes: default height in dots, default module width, the HRI gap.
constexpr int kDefaultBarHeight = 162;
constexpr int kDefaultBarWidth = 3;
constexpr int kHriGap = 4;

// A rectangle of dots: a character cell, an image, a symbol.
struct Block {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> dots;

    Block(int w, int h) : width(std::max(w, 0)), height(std::max(h, 0)), dots(std::size_t(width) * std::size_t(height)) {}
    unsigned char& at(int x, int y) { return dots[std::size_t(y) * std::size_t(width) + std::size_t(x)]; }
    bool on(int x, int y) const { return dots[std::size_t(y) * std::size_t(width) + std::size_t(x)] != 0; }
    void fill(int x0, int y0, int w, int h) {
        for (int y = std::max(y0, 0); y < std::min(y0 + h, height); ++y)
            for (int x = std::max(x0, 0); x < std::min(x0 + w, width); ++x) at(x, y) = 1;
    }
    void draw(const Block& b, int x0, int y0) {
        for (int y = 0; y < b.height; ++y)
            for (int x = 0; x < b.width; ++x)
                if (b.on(x, y) && x0 + x >= 0 && x0 + x < width && y0 + y >= 0 && y0 + y < height) at(x0 + x, y0 + y) = 1;
    }
};

// Printers enlarge characters and images dot by dot.
Block scaled(const Block& b, int sx, int sy) {
    if (sx == 1 && sy == 1) return b;
    Block out(b.width * sx, b.height * sy);
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x) out.at(x, y) = b.on(x / sx, y / sy);
    return out;
}

// The modules of a symbol, each `sx` x `sy` dots.
Block fromModules(const CodeModules& m, int sx, int sy) {
    Block out(m.width * sx, m.height * sy);
    for (int y = 0; y < m.height; ++y)
        for (int x = 0; x < m.width; ++x)
            if (m.at(x, y)) out.fill(x * sx, y * sy, sx, sy);
    return out;
}

// The characters 0x80-0xFF of an ESC t code page that iconv knows; '?' for the others.
std::array<char32_t, 128> codePageTable(int page) {
    static const std::map<int, const char*> names = {{0, "CP437"},  {2, "CP850"},   {3, "CP860"},  {4, "CP863"},
                                                     {5, "CP865"},  {16, "CP1252"}, {17, "CP866"}, {18, "CP852"},
                                                     {19, "CP858"}};
    std::array<char32_t, 128> table;
    table.fill(U'?');
    const auto name = names.find(page);
    if (name == names.end()) return table;
    const iconv_t cd = iconv_open("UTF-32LE", name->second);
    if (cd == reinterpret_cast<iconv_t>(-1)) return table;
    for (int c = 0x80; c < 0x100; ++c) {
        char in = static_cast<char>(c);
        unsigned char out[4] = {};
        char* ip = &in;
        char* op = reinterpret_cast<char*>(out);
        std::size_t il = 1, ol = sizeof out;
        if (iconv(cd, &ip, &il, &op, &ol) != static_cast<std::size_t>(-1) && ol == 0)
            table[std::size_t(c - 0x80)] = char32_t(out[0]) | char32_t(out[1]) << 8 | char32_t(out[2]) << 16;
    }
    iconv_close(cd);
    return table;
}

// The first character of UTF-8 text (Chinese characters lie in the basic plane).
char32_t firstChar(const std::string& utf8) {
    const std::u16string u = utf8ToUtf16(utf8);
    return u.empty() ? U'?' : u[0];
}

bool isGbkLead(unsigned char b) { return b >= 0x81 && b <= 0xFE; }
bool isGbkTrail(unsigned char b) { return b >= 0x40 && b <= 0xFE && b != 0x7F; }

// What ESC @ resets.
struct Modes {
    bool fontB = false;
    bool bold = false;
    int underline = 0;  // dots
    bool reverse = false;
    int widthMul = 1;
    int heightMul = 1;
    int charSpacing = 0;
    int align = 0;  // 0 left, 1 centre, 2 right
    int lineSpacing = kDefaultLineSpacing;
    int leftMargin = 0;
    int areaWidth = -1;  // -1: to the right edge
    bool chinese = true;  // Chinese printers start in Chinese mode (FS &)
    int codePage = 0;
    std::vector<int> tabs;  // dots; empty: every 8 characters of font A
    int barHeight = kDefaultBarHeight;
    int barWidth = kDefaultBarWidth;
    int hri = 0;  // 0 none, 1 above, 2 below, 3 both
    bool hriFontB = false;
    QrModel qrModel = QrModel::Model2;
    int qrModule = 3;
    int qrLevel = 0;
    std::string qrData;
};

class Printer {
public:
    Printer(int paperWidth, ReceiptFont& font) : font_(font) {
        picture_.width = paperWidth;
    }

    void run(std::string_view job);

    ReceiptPicture finish() {
        if (!line_.empty()) printLine(0);
        picture_.height = std::min(std::max({paperEnd_, y_, 1}), kMaxPaperDots);
        picture_.dots.resize(std::size_t(picture_.width) * std::size_t(picture_.height));
        return std::move(picture_);
    }

private:
    struct Placed {
        int x;
        Block block;
    };

    int areaLeft() const { return std::clamp(modes_.leftMargin, 0, picture_.width - 1); }
    int areaWidth() const {
        const int room = picture_.width - areaLeft();
        return modes_.areaWidth < 0 ? room : std::clamp(modes_.areaWidth, 1, room);
    }

    // Prints `b` on the paper at (x, y), as far as the paper goes.
    void paint(const Block& b, int x, int y) {
        const int bottom = y + b.height;
        if (bottom > kMaxPaperDots) picture_.cutShort = true;
        const int rows = std::min(bottom, kMaxPaperDots);
        if (rows > 0 && std::size_t(rows) * std::size_t(picture_.width) > picture_.dots.size())
            picture_.dots.resize(std::size_t(rows) * std::size_t(picture_.width));
        for (int row = 0; row < b.height && y + row < rows; ++row)
            for (int col = 0; col < b.width; ++col)
                if (b.on(col, row) && x + col >= 0 && x + col < picture_.width && y + row >= 0)
                    picture_.dots[std::size_t(y + row) * std::size_t(picture_.width) + std::size_t(x + col)] = 1;
        paperEnd_ = std::max(paperEnd_, rows);
    }

    // The x where something `width` dots wide starts under the alignment.
    int aligned(int align, int left, int area, int width) const {
        const int free = std::max(area - width, 0);
        return left + (align == 1 ? free / 2 : align == 2 ? free : 0);
    }

    // Adds a piece to the line; a piece that does not fit on the line starts the next one.
    void add(Block b, int after = 0) {
        if (!line_.empty() && penX_ + b.width > lineWidth_) printLine(modes_.lineSpacing);
        if (line_.empty()) {
            lineAlign_ = modes_.align;
            lineLeft_ = areaLeft();
            lineWidth_ = areaWidth();
        }
        line_.push_back({penX_, std::move(b)});
        penX_ += line_.back().block.width + after;
    }

    // Prints the line (its pieces on one baseline, the alignment of its start) and feeds `feed`
    // dots, or the line's height if that is more.
    void printLine(int feed) {
        int height = 0, used = 0;
        for (const Placed& p : line_) {
            height = std::max(height, p.block.height);
            used = std::max(used, p.x + p.block.width);
        }
        const int x0 = aligned(lineAlign_, lineLeft_, lineWidth_, std::min(used, lineWidth_));
        for (const Placed& p : line_) {
            Block clipped = p.block;
            // Nothing prints beyond the print area's right edge.
            const int room = lineWidth_ - p.x;
            if (room <= 0) continue;
            if (clipped.width > room) {
                Block c(room, clipped.height);
                c.draw(clipped, 0, 0);
                clipped = std::move(c);
            }
            paint(clipped, x0 + p.x, y_ + height - clipped.height);
        }
        y_ += line_.empty() ? feed : std::max(feed, height);
        paperEnd_ = std::max(paperEnd_, std::min(y_, kMaxPaperDots));
        line_.clear();
        penX_ = 0;
    }

    // A block that is a line of its own (raster image, symbol), after what the line holds.
    void printBlock(const Block& b) {
        if (!line_.empty()) printLine(modes_.lineSpacing);
        Block clipped = b;
        if (b.width > areaWidth()) {
            Block c(areaWidth(), b.height);
            c.draw(b, 0, 0);
            clipped = std::move(c);
        }
        paint(clipped, aligned(modes_.align, areaLeft(), areaWidth(), clipped.width), y_);
        y_ += clipped.height;
    }

    void mark(ReceiptMark::Kind kind, std::string label) {
        paperEnd_ = std::max(paperEnd_, std::min(y_, kMaxPaperDots));
        picture_.marks.push_back({kind, std::min(y_, kMaxPaperDots), std::move(label)});
    }

    char32_t codePageChar(unsigned char b) {
        auto it = codePages_.find(modes_.codePage);
        if (it == codePages_.end()) it = codePages_.emplace(modes_.codePage, codePageTable(modes_.codePage)).first;
        return it->second[std::size_t(b - 0x80)];
    }

    void character(char32_t code, bool wide);
    bool command(const unsigned char* p, std::size_t len);
    bool barcodeCommand(const unsigned char* p, std::size_t len);
    bool qrCommand(const unsigned char* p, std::size_t len);
    void image(const unsigned char* data, int widthBytes, int rows, int sx, int sy);
    void columnImage(const unsigned char* p, std::size_t len);
    void tab();

    ReceiptFont& font_;
    ReceiptPicture picture_;
    Modes modes_;
    int y_ = 0;         // where the next line prints
    int paperEnd_ = 0;  // the lowest dot of paper used
    std::vector<Placed> line_;
    int penX_ = 0;
    int lineAlign_ = 0, lineLeft_ = 0, lineWidth_ = 0;
    std::map<int, std::array<char32_t, 128>> codePages_;
};

void Printer::character(char32_t code, bool wide) {
    const int w = wide ? 24 : modes_.fontB ? 9 : 12;
    const int h = wide ? 24 : modes_.fontB ? 17 : 24;
    Block cell(w, h);
    cell.dots = font_.glyph(code, w, h);
    if (modes_.bold) {
        // Emphasis prints every dot twice, the second one dot to the right.
        const Block plain = cell;
        cell.draw(plain, 1, 0);
    }
    Block big = scaled(cell, modes_.widthMul, modes_.heightMul);
    const int spacing = modes_.charSpacing * modes_.widthMul;
    if (modes_.underline) big.fill(0, big.height - modes_.underline, big.width, modes_.underline);
    if (modes_.reverse)
        for (auto& d : big.dots) d = !d;
    add(std::move(big), spacing);
}

void Printer::tab() {
    const int unit = 12;
    int next = -1;
    if (modes_.tabs.empty()) {
        next = (penX_ / (8 * unit) + 1) * 8 * unit;
    } else {
        for (const int t : modes_.tabs)
            if (t > penX_) {
                next = t;
                break;
            }
    }
    // Past the last tab stop, or past the line: HT does nothing.
    if (next < 0 || next >= (line_.empty() ? areaWidth() : lineWidth_)) return;
    if (line_.empty()) add(Block(0, 0));
    penX_ = next;
}

// GS v 0 (rows of bytes) into a block of its own; what lies beyond the print area or the paper's
// end is never made.
void Printer::image(const unsigned char* data, int widthBytes, int rows, int sx, int sy) {
    const int width = std::min(widthBytes * 8, (areaWidth() + sx - 1) / sx);
    Block b(width, std::min(rows, kMaxPaperDots / sy + 1));
    for (int y = 0; y < b.height; ++y)
        for (int x = 0; x < width; ++x)
            b.at(x, y) = (data[std::size_t(y) * std::size_t(widthBytes) + std::size_t(x / 8)] >> (7 - x % 8)) & 1;
    printBlock(scaled(b, sx, sy));
}

// ESC * m nL nH: columns of 8 or 24 dots (top bit first) that join the line like characters.
void Printer::columnImage(const unsigned char* p, std::size_t len) {
    const unsigned m = p[2];
    const int columns = p[3] | p[4] << 8;
    const bool tall = m == 32 || m == 33;
    const int bytes = tall ? 3 : 1;
    // 8-dot modes print each dot 3 dots high; single density prints it 2 dots wide.
    const int sy = tall ? 1 : 3, sx = (m == 0 || m == 32) ? 2 : 1;
    // Nothing to print: an empty image must not pile up pieces on a line that never fills.
    if (columns == 0) return;
    Block b(std::min(columns, areaWidth()), bytes * 8);
    for (int c = 0; c < b.width; ++c)
        for (int k = 0; k < bytes * 8; ++k) {
            const std::size_t at = 5 + std::size_t(c) * std::size_t(bytes) + std::size_t(k / 8);
            if (at < len && (p[at] >> (7 - k % 8)) & 1) b.at(c, k) = 1;
        }
    add(scaled(b, sx, sy));
}

// GS ( k for QR codes; false for any other symbol.
bool Printer::qrCommand(const unsigned char* p, std::size_t len) {
    if (len < 7 || p[5] != kQrSymbol) return false;
    const unsigned char fn = p[6];
    const auto arg = [&](std::size_t k) -> int { return k < len ? p[k] : -1; };
    switch (fn) {
    case kQrModel:
        if (arg(7) == 49) modes_.qrModel = QrModel::Model1;
        else if (arg(7) == 51) modes_.qrModel = QrModel::Micro;
        else modes_.qrModel = QrModel::Model2;
        return true;
    case kQrModule:
        if (arg(7) >= 1 && arg(7) <= 16) modes_.qrModule = arg(7);
        return true;
    case kQrErrorLevel:
        if (arg(7) >= 48 && arg(7) <= 51) modes_.qrLevel = arg(7) - 48;
        return true;
    case kQrStore:
        modes_.qrData.assign(reinterpret_cast<const char*>(p) + 8, len > 8 ? len - 8 : 0);
        return true;
    case kQrPrint: {
        const CodeResult qr = qrCode(modes_.qrData, modes_.qrModel, modes_.qrLevel);
        if (!qr.modules) return false;
        printBlock(fromModules(*qr.modules, modes_.qrModule, modes_.qrModule));
        return true;
    }
    case kQrSize:  // the size of the stored symbol, sent back to the host
        return true;
    default:
        return false;
    }
}

// GS k: the bars with their text above or below; false when the printer would not print it.
bool Printer::barcodeCommand(const unsigned char* p, std::size_t len) {
    const unsigned m = p[2];
    if (m > 6 && (m < 65 || len < 4)) return false;
    const CodeResult code = barCode(static_cast<int>(m), barcodeData(p, len));
    if (!code.modules) return false;
    const int barsWidth = code.modules->width * modes_.barWidth;
    // A printer leaves out a bar code wider than the print area.
    if (barsWidth > areaWidth()) return false;
    const bool above = modes_.hri & 1, below = modes_.hri & 2;
    const int cw = modes_.hriFontB ? 9 : 12, ch = modes_.hriFontB ? 17 : 24;
    const int textWidth = above || below ? static_cast<int>(code.modules->text.size()) * cw : 0;
    const int textBand = ch + kHriGap;
    Block b(std::max(barsWidth, textWidth), modes_.barHeight + (above ? textBand : 0) + (below ? textBand : 0));
    const int barsTop = above ? textBand : 0;
    const int barsLeft = (b.width - barsWidth) / 2;
    for (int x = 0; x < code.modules->width; ++x)
        if (code.modules->at(x, 0)) b.fill(barsLeft + x * modes_.barWidth, barsTop, modes_.barWidth, modes_.barHeight);
    const auto text = [&](int top) {
        int x = (b.width - textWidth) / 2;
        for (const char c : code.modules->text) {
            Block cell(cw, ch);
            cell.dots = font_.glyph(static_cast<unsigned char>(c), cw, ch);
            b.draw(cell, x, top);
            x += cw;
        }
    };
    if (above) text(0);
    if (below) text(barsTop + modes_.barHeight + kHriGap);
    printBlock(b);
    return true;
}

// One command; false when the picture does not draw it.
bool Printer::command(const unsigned char* p, std::size_t len) {
    const Command* c = findCommand(p[0], p[1]);
    if (!c) return false;
    const auto n = [&](std::size_t k) -> int { return p[k]; };
    const auto word = [&](std::size_t k) -> int { return p[k] | p[k + 1] << 8; };
    switch (c->op) {
    case Op::NotDrawn: return false;
    case Op::Quiet: return true;
    case Op::Init:
        line_.clear();
        penX_ = 0;
        modes_ = Modes{};
        return true;
    case Op::PrintMode:
        modes_.fontB = n(2) & 0x01;
        modes_.bold = n(2) & 0x08;
        modes_.heightMul = n(2) & 0x10 ? 2 : 1;
        modes_.widthMul = n(2) & 0x20 ? 2 : 1;
        modes_.underline = n(2) & 0x80 ? 1 : 0;
        return true;
    case Op::Bold: modes_.bold = n(2) & 1; return true;
    case Op::Underline: modes_.underline = std::min(selector(p[2]), 2); return true;
    case Op::Align: modes_.align = std::min(selector(p[2]), 2); return true;
    case Op::Font: modes_.fontB = selector(p[2]) == 1; return true;
    case Op::CharSpacing: modes_.charSpacing = n(2); return true;
    case Op::DefaultLineSpacing: modes_.lineSpacing = kDefaultLineSpacing; return true;
    case Op::LineSpacing: modes_.lineSpacing = n(2); return true;
    case Op::FeedLines: printLine(n(2) * modes_.lineSpacing); return true;
    case Op::FeedDots: printLine(n(2)); return true;
    case Op::Position:
        if (line_.empty()) add(Block(0, 0));
        penX_ = std::min(word(2), lineWidth_);
        return true;
    case Op::RelativePosition:
        if (line_.empty()) add(Block(0, 0));
        penX_ = std::clamp(penX_ + static_cast<std::int16_t>(word(2)), 0, lineWidth_);
        return true;
    case Op::TabStops:
        modes_.tabs.clear();
        for (std::size_t k = 2; k < len && p[k] != 0; ++k) modes_.tabs.push_back(p[k] * (modes_.fontB ? 9 : 12));
        return true;
    case Op::CodePage: modes_.codePage = n(2); return true;
    case Op::BitImage: columnImage(p, len); return true;
    case Op::Drawer:
        mark(ReceiptMark::Kind::Drawer,
             "DRAWER pin " + std::to_string(drawerPin(p[2])) + " " + std::to_string(n(3) * 2) + " ms");
        return true;
    case Op::RealTime:
        if (len != 5 || p[2] != 1) return false;
        mark(ReceiptMark::Kind::Drawer,
             "DRAWER pin " + std::to_string(drawerPin(p[3])) + " " + std::to_string(n(4) * 100) + " ms");
        return true;
    case Op::FullCut: case Op::PartialCut: {
        if (!line_.empty()) printLine(0);
        const bool full = c->op == Op::FullCut;
        mark(full ? ReceiptMark::Kind::FullCut : ReceiptMark::Kind::PartialCut, full ? "CUT" : "PARTIAL CUT");
        return true;
    }
    case Op::Cut: {
        if (!line_.empty()) printLine(0);
        const CutKind cut = cutOf(p[2]);
        // Feed n dots past the cutting position first.
        if (cut.feeds && len >= 4) y_ += n(3);
        mark(cut.full ? ReceiptMark::Kind::FullCut : ReceiptMark::Kind::PartialCut, cut.full ? "CUT" : "PARTIAL CUT");
        return true;
    }
    case Op::Size:
        modes_.widthMul = std::min((n(2) >> 4) + 1, 8);
        modes_.heightMul = std::min((n(2) & 0x0F) + 1, 8);
        return true;
    case Op::Reverse: modes_.reverse = n(2) & 1; return true;
    case Op::LeftMargin: modes_.leftMargin = word(2); return true;
    case Op::PrintWidth: modes_.areaWidth = word(2); return true;
    case Op::BarHeight: if (n(2) >= 1) modes_.barHeight = n(2); return true;
    case Op::BarWidth: if (n(2) >= 1 && n(2) <= 6) modes_.barWidth = n(2); return true;
    case Op::BarText: modes_.hri = selector(p[2]) & 3; return true;
    case Op::BarFont: modes_.hriFontB = selector(p[2]) == 1; return true;
    case Op::Barcode: return barcodeCommand(p, len);
    case Op::RasterImage: {
        if (len < 8 || p[2] != '0') return false;
        const int mode = selector(p[3]);
        image(p + 8, word(4), word(6), mode & 1 ? 2 : 1, mode & 2 ? 2 : 1);
        return true;
    }
    case Op::Symbol: return len >= 6 && p[2] == 'k' && qrCommand(p, len);
    case Op::ChineseOn: modes_.chinese = true; return true;
    case Op::ChineseOff: modes_.chinese = false; return true;
    }
    return false;
}

void Printer::run(std::string_view job) {
    const auto* p = reinterpret_cast<const unsigned char*>(job.data());
    const std::size_t size = job.size();
    std::size_t i = 0;
    while (i < size && !picture_.cutShort) {
        if (y_ > kMaxPaperDots) {
            picture_.cutShort = true;
            break;
        }
        const unsigned char b = p[i];
        if (isEscposIntroducer(b)) {
            const EscposElement e = escposElement(p + i, size - i);
            if (!e.complete || !command(p + i, e.length)) picture_.skipped.push_back(i);
            i += e.length;
            continue;
        }
        ++i;
        if (b == '\n') {
            printLine(modes_.lineSpacing);
        } else if (b == '\t') {
            tab();
        } else if (b >= 0x20 && b < 0x7F) {
            character(b, false);
        } else if (b >= 0x80 && modes_.chinese) {
            if (isGbkLead(b) && i < size && isGbkTrail(p[i])) {
                character(firstChar(gb2312ToUtf8(job.substr(i - 1, 2))), true);
                ++i;
            } else {
                character(U'?', false);
            }
        } else if (b >= 0x80) {
            character(codePageChar(b), false);
        }
        // Other control bytes (CR, NUL, FF ...) put nothing on paper in standard mode.
    }
}

}  // namespace

ReceiptPicture renderReceipt(std::string_view job, int paperWidth) {
    ReceiptFont font;
    Printer printer(paperWidth, font);
    printer.run(job);
    return printer.finish();
}

}  // namespace tovi::escpos
