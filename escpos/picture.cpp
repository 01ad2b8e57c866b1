// The receipt picture: an ESC/POS interpreter that prints onto a bitmap instead of paper.
#include "escpos/picture.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
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

// out[0, n) |= in[0, n): dots are bytes of 0 or 1, so eight of them go at a time.
void orDots(unsigned char* out, const unsigned char* in, int n) {
    int k = 0;
    for (; k + 8 <= n; k += 8) {
        std::uint64_t a, b;
        std::memcpy(&a, out + k, 8);
        std::memcpy(&b, in + k, 8);
        a |= b;
        std::memcpy(out + k, &a, 8);
    }
    for (; k < n; ++k) out[k] |= in[k];
}

// Printers enlarge characters and images dot by dot: each dot sx times across, each row sy times.
Block scaled(const Block& b, int sx, int sy) {
    if (sx == 1 && sy == 1) return b;
    Block out(b.width * sx, b.height * sy);
    const auto outWidth = std::size_t(out.width);
    for (int y = 0; y < b.height; ++y) {
        const unsigned char* in = b.dots.data() + std::size_t(y) * std::size_t(b.width);
        unsigned char* row = out.dots.data() + std::size_t(y * sy) * outWidth;
        for (int x = 0; x < b.width; ++x) std::fill_n(row + x * sx, sx, in[x]);
        for (int k = 1; k < sy; ++k) std::copy_n(row, outWidth, row + std::size_t(k) * outWidth);
    }
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
    std::vector<int> tabs;  // dots, at most kMaxTabStops; empty: every 8 characters of font A
    int barHeight = kDefaultBarHeight;
    int barWidth = kDefaultBarWidth;
    int hri = 0;  // 0 none, 1 above, 2 below, 3 both
    bool hriFontB = false;
    QrModel qrModel = QrModel::Model2;
    int qrModule = 3;
    int qrLevel = 0;
    std::string qrData;
};

// ESC D sets at most this many tab stops; a printer ignores the ones after them.
constexpr std::size_t kMaxTabStops = 32;

// Why a picture ends before its job does.
enum class Bound { Paper, Marks, Skipped };
std::string boundText(Bound bound) {
    switch (bound) {
    case Bound::Paper: return "more than " + std::to_string(kMaxPaperDots / 8) + " mm of paper";
    case Bound::Marks: return "more than " + std::to_string(kMaxMarks) + " cuts and drawer pulses";
    case Bound::Skipped: return "more than " + std::to_string(kMaxSkipped) + " commands not drawn";
    }
    return {};
}

class Printer {
public:
    Printer(int paperWidth, ReceiptFont& font)
        : font_(font), line_(std::size_t(paperWidth) * std::size_t(kLineRows)) {
        picture_.width = paperWidth;
    }

    void run(std::string_view job);

    ReceiptPicture finish() {
        if (lineOpen_) printLine(0);
        picture_.height = std::min(std::max({paperEnd_, y_, 1}), kMaxPaperDots);
        picture_.dots.resize(std::size_t(picture_.width) * std::size_t(picture_.height));
        return std::move(picture_);
    }

private:
    // The tallest piece of a line: a character at 8 times its height.
    static constexpr int kLineRows = 24 * 8;

    int areaLeft() const { return std::clamp(modes_.leftMargin, 0, picture_.width - 1); }
    int areaWidth() const {
        const int room = picture_.width - areaLeft();
        return modes_.areaWidth < 0 ? room : std::clamp(modes_.areaWidth, 1, room);
    }

    // Ends the picture at the command being drawn; the first reason counts.
    void stop(Bound bound) {
        if (!picture_.cutShort) picture_.cutShort = PictureStop{at_, boundText(bound)};
    }

    // Prints `height` rows of `width` dots, `stride` apart in `dots`, on the paper at (x, y), as
    // far as the paper goes.
    void paint(const unsigned char* dots, std::size_t stride, int width, int height, int x, int y) {
        const int bottom = y + height;
        if (bottom > kMaxPaperDots) stop(Bound::Paper);
        const int rows = std::min(bottom, kMaxPaperDots);
        const auto paperWidth = std::size_t(picture_.width);
        if (rows > 0 && std::size_t(rows) * paperWidth > picture_.dots.size())
            picture_.dots.resize(std::size_t(rows) * paperWidth);
        const int from = std::max(-x, 0), to = std::min(width, picture_.width - x);
        for (int row = std::max(-y, 0); row < height && y + row < rows && from < to; ++row)
            orDots(picture_.dots.data() + std::size_t(y + row) * paperWidth + std::size_t(x + from),
                   dots + std::size_t(row) * stride + std::size_t(from), to - from);
        paperEnd_ = std::max(paperEnd_, rows);
    }

    // The x where something `width` dots wide starts under the alignment.
    int aligned(int align, int left, int area, int width) const {
        const int free = std::max(area - width, 0);
        return left + (align == 1 ? free / 2 : align == 2 ? free : 0);
    }

    // Room on the line for a piece `width` x `height` at the print position, `after` dots before
    // the next one; a piece that does not fit on the line starts the next one. Pieces go onto the
    // line's canvas at once, on the baseline (their bottom row on the canvas's), so a line whose
    // position is moved back again and again keeps no more than its dots.
    struct Room {
        int x;     // where the piece starts on the canvas
        int cols;  // its columns that print: nothing prints beyond the print area's right edge
    };
    Room place(int width, int height, int after) {
        if (lineOpen_ && penX_ + width > lineWidth_) printLine(modes_.lineSpacing);
        if (!lineOpen_) {
            lineOpen_ = true;
            lineAlign_ = modes_.align;
            lineLeft_ = areaLeft();
            lineWidth_ = areaWidth();
        }
        const Room room{penX_, std::clamp(lineWidth_ - penX_, 0, width)};
        lineHeight_ = std::max(lineHeight_, std::min(height, kLineRows));
        lineUsed_ = std::max(lineUsed_, penX_ + width);
        penX_ += width + after;
        return room;
    }

    void add(const Block& b, int after = 0) {
        const Room room = place(b.width, b.height, after);
        const int rows = std::min(b.height, kLineRows);
        for (int row = 0; row < rows; ++row)
            orDots(lineRow(kLineRows - rows + row) + room.x,
                   b.dots.data() + std::size_t(b.height - rows + row) * std::size_t(b.width), room.cols);
    }

    unsigned char* lineRow(int row) { return line_.data() + std::size_t(row) * std::size_t(picture_.width); }

    // Forgets the line: its dots are cleared where pieces went.
    void dropLine() {
        const int used = std::min(lineUsed_, lineWidth_);
        for (int row = kLineRows - lineHeight_; row < kLineRows; ++row) std::fill_n(lineRow(row), used, 0);
        lineOpen_ = false;
        lineHeight_ = lineUsed_ = penX_ = 0;
    }

    // Prints the line (its pieces on one baseline, the alignment of its start) and feeds `feed`
    // dots, or the line's height if that is more.
    void printLine(int feed) {
        if (lineOpen_) {
            const int used = std::min(lineUsed_, lineWidth_);
            const int x0 = aligned(lineAlign_, lineLeft_, lineWidth_, used);
            paint(lineRow(kLineRows - lineHeight_), std::size_t(picture_.width), used, lineHeight_, x0, y_);
            y_ += std::max(feed, lineHeight_);
            dropLine();
        } else {
            y_ += feed;
        }
        paperEnd_ = std::max(paperEnd_, std::min(y_, kMaxPaperDots));
        penX_ = 0;
    }

    // A block that is a line of its own (raster image, symbol), after what the line holds.
    void printBlock(const Block& b) {
        if (lineOpen_) printLine(modes_.lineSpacing);
        const int width = std::min(b.width, areaWidth());
        paint(b.dots.data(), std::size_t(b.width), width, b.height, aligned(modes_.align, areaLeft(), areaWidth(), width), y_);
        y_ += b.height;
    }

    void mark(ReceiptMark::Kind kind, std::string label) {
        if (picture_.marks.size() >= kMaxMarks) return stop(Bound::Marks);
        paperEnd_ = std::max(paperEnd_, std::min(y_, kMaxPaperDots));
        picture_.marks.push_back({kind, std::min(y_, kMaxPaperDots), std::move(label)});
    }

    // The QR code of the stored data, encoded once for each model and error level: a job may print
    // the symbol (or fail to) any number of times, and encoding costs far more than the print
    // command's 8 bytes.
    const CodeResult& storedQr() {
        const auto key = std::make_pair(modes_.qrModel, modes_.qrLevel);
        auto it = qrCodes_.find(key);
        if (it == qrCodes_.end()) it = qrCodes_.emplace(key, qrCode(modes_.qrData, key.first, key.second)).first;
        return it->second;
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
    std::size_t at_ = 0;  // the job's byte where the command being drawn starts
    int y_ = 0;           // where the next line prints
    int paperEnd_ = 0;    // the lowest dot of paper used
    std::vector<unsigned char> line_;  // the line's canvas: the paper's width x kLineRows
    bool lineOpen_ = false;
    int lineHeight_ = 0;  // rows of the tallest piece
    int lineUsed_ = 0;    // the right edge of the rightmost piece
    int penX_ = 0;
    int lineAlign_ = 0, lineLeft_ = 0, lineWidth_ = 0;
    std::map<int, std::array<char32_t, 128>> codePages_;
    std::map<std::pair<QrModel, int>, CodeResult> qrCodes_;  // of modes_.qrData
    Block cell_{0, 0};                // the last character drawn, as the font has it
    std::vector<unsigned char> row_;  // one row of it enlarged
};

void Printer::character(char32_t code, bool wide) {
    const int w = wide ? 24 : modes_.fontB ? 9 : 12;
    const int h = wide ? 24 : modes_.fontB ? 17 : 24;
    // The cell is kept from one character to the next, and of its enlargement only one row is ever
    // made: a character costs no memory of its own.
    Block& cell = cell_;
    cell.width = w;
    cell.height = h;
    cell.dots = font_.glyph(code, w, h);
    if (modes_.bold) {
        // Emphasis prints every dot twice, the second one dot to the right.
        for (int y = 0; y < h; ++y)
            for (int x = w - 1; x > 0; --x) cell.at(x, y) |= cell.at(x - 1, y);
    }
    const int sx = modes_.widthMul, sy = modes_.heightMul;
    const int width = w * sx, height = h * sy;
    const Room room = place(width, height, modes_.charSpacing * sx);
    // Underlined rows are printed through, and a reversed cell prints where the font does not.
    const bool reverse = modes_.reverse;
    row_.resize(std::size_t(width));
    for (int y = std::max(height - kLineRows, 0); y < height; ++y) {
        unsigned char* out = lineRow(kLineRows - height + y) + room.x;
        if (y >= height - modes_.underline) {
            if (!reverse) std::fill_n(out, room.cols, 1);
            continue;
        }
        if (y % sy == 0 || y == std::max(height - kLineRows, 0)) {
            const unsigned char* in = cell.dots.data() + std::size_t(y / sy) * std::size_t(w);
            for (int x = 0; x < width; ++x) row_[std::size_t(x)] = in[x / sx] ^ reverse;
        }
        orDots(out, row_.data(), room.cols);
    }
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
    if (next < 0 || next >= (lineOpen_ ? lineWidth_ : areaWidth())) return;
    if (!lineOpen_) add(Block(0, 0));
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
        qrCodes_.clear();
        return true;
    case kQrPrint: {
        const CodeResult& qr = storedQr();
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
        dropLine();
        modes_ = Modes{};
        qrCodes_.clear();
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
        if (!lineOpen_) add(Block(0, 0));
        penX_ = std::min(word(2), lineWidth_);
        return true;
    case Op::RelativePosition:
        if (!lineOpen_) add(Block(0, 0));
        penX_ = std::clamp(penX_ + static_cast<std::int16_t>(word(2)), 0, lineWidth_);
        return true;
    case Op::TabStops:
        modes_.tabs.clear();
        for (std::size_t k = 2; k < len && p[k] != 0 && modes_.tabs.size() < kMaxTabStops; ++k)
            modes_.tabs.push_back(p[k] * (modes_.fontB ? 9 : 12));
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
        if (lineOpen_) printLine(0);
        const bool full = c->op == Op::FullCut;
        mark(full ? ReceiptMark::Kind::FullCut : ReceiptMark::Kind::PartialCut, full ? "CUT" : "PARTIAL CUT");
        return true;
    }
    case Op::Cut: {
        if (lineOpen_) printLine(0);
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
        at_ = i;
        if (y_ > kMaxPaperDots) {
            stop(Bound::Paper);
            break;
        }
        const unsigned char b = p[i];
        if (isEscposIntroducer(b)) {
            const EscposElement e = escposElement(p + i, size - i);
            if (!e.complete || !command(p + i, e.length)) {
                if (picture_.skipped.size() < kMaxSkipped) picture_.skipped.push_back(i);
                else stop(Bound::Skipped);
            }
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
    at_ = size;
}

}  // namespace

ReceiptPicture renderReceipt(std::string_view job, int paperWidth) {
    ReceiptFont font;
    Printer printer(paperWidth, font);
    printer.run(job);
    return printer.finish();
}

}  // namespace tovi::escpos
