#include "escpos/commands.h"

#include <array>
#include <iterator>

namespace tovi::escpos {

namespace {

using enum Shape;
using enum Show;

constexpr Command fixed(unsigned char introducer, unsigned char function, std::uint8_t params, Op op = Op::NotDrawn,
                        Show show = Bytes, std::string_view name = {}, std::string_view words = {}) {
    return {introducer, function, Fixed, params, op, show, name, words};
}
constexpr Command block(unsigned char introducer, unsigned char function, Shape shape, Op op = Op::NotDrawn,
                        Show show = Bytes, std::string_view name = {}) {
    return {introducer, function, shape, 0, op, show, name};
}

constexpr Command kCommands[] = {
    fixed(kEsc, '@', 0, Op::Init, Name, "INIT"),
    fixed(kEsc, '2', 0, Op::DefaultLineSpacing, Name, "LINE SPACING DEFAULT"),
    fixed(kEsc, 'i', 0, Op::FullCut, Name, "CUT FULL"),
    fixed(kEsc, 'm', 0, Op::PartialCut, Name, "CUT PARTIAL"),
    fixed(kEsc, '<', 0), fixed(kEsc, 'L', 0), fixed(kEsc, 'S', 0), fixed(kEsc, 'v', 0),
    fixed(kEsc, 'E', 1, Op::Bold, OnOff, "BOLD"),
    // Double strike prints like emphasis on a thermal head.
    fixed(kEsc, 'G', 1, Op::Bold, OnOff, "DOUBLE STRIKE"),
    fixed(kEsc, '{', 1, Op::NotDrawn, OnOff, "UPSIDE DOWN"),
    fixed(kEsc, '-', 1, Op::Underline, Choice, "UNDERLINE", "OFF 1 2"),
    fixed(kEsc, 'a', 1, Op::Align, Choice, "ALIGN", "LEFT CENTER RIGHT"),
    fixed(kEsc, 'M', 1, Op::Font, Choice, "FONT", "A B C"),
    fixed(kEsc, '!', 1, Op::PrintMode, Hex, "MODE"),
    fixed(kEsc, 'd', 1, Op::FeedLines, Number, "FEED", "LINES"),
    fixed(kEsc, 'J', 1, Op::FeedDots, Number, "FEED", "DOTS"),
    fixed(kEsc, 't', 1, Op::CodePage, Number, "CODE PAGE"),
    fixed(kEsc, 'R', 1, Op::Quiet, Number, "CHARSET"),
    fixed(kEsc, '3', 1, Op::LineSpacing, Number, "LINE SPACING"),
    fixed(kEsc, ' ', 1, Op::CharSpacing),
    fixed(kEsc, '=', 1, Op::Quiet), fixed(kEsc, 'U', 1, Op::Quiet),
    fixed(kEsc, '%', 1), fixed(kEsc, 'V', 1), fixed(kEsc, 'r', 1), fixed(kEsc, 'e', 1), fixed(kEsc, 'T', 1),
    fixed(kEsc, 'u', 1), fixed(kEsc, '?', 1),
    fixed(kEsc, '$', 2, Op::Position, Word, "POSITION"),
    fixed(kEsc, '\\', 2, Op::RelativePosition),
    fixed(kEsc, 'c', 2, Op::Quiet),
    fixed(kEsc, 'p', 3, Op::Drawer, Own, "DRAWER"),
    block(kEsc, 'D', TabStops, Op::TabStops),
    block(kEsc, '*', BitImage, Op::BitImage, Own, "BIT IMAGE"),
    block(kEsc, '(', Parameters),

    fixed(kGs, ':', 0),
    fixed(kGs, '!', 1, Op::Size, Own, "SIZE"),
    fixed(kGs, 'B', 1, Op::Reverse, OnOff, "REVERSE"),
    fixed(kGs, 'h', 1, Op::BarHeight, Number, "BARCODE HEIGHT"),
    fixed(kGs, 'w', 1, Op::BarWidth, Number, "BARCODE WIDTH"),
    fixed(kGs, 'H', 1, Op::BarText, Number, "BARCODE TEXT"),
    fixed(kGs, 'f', 1, Op::BarFont, Number, "BARCODE FONT"),
    // Status sent back to the host.
    fixed(kGs, 'a', 1, Op::Quiet), fixed(kGs, 'r', 1, Op::Quiet), fixed(kGs, 'I', 1, Op::Quiet),
    fixed(kGs, 'b', 1), fixed(kGs, 'T', 1), fixed(kGs, '/', 1),
    fixed(kGs, 'L', 2, Op::LeftMargin, Word, "LEFT MARGIN"),
    fixed(kGs, 'W', 2, Op::PrintWidth, Word, "PRINT WIDTH"),
    fixed(kGs, 'P', 2), fixed(kGs, '$', 2), fixed(kGs, '\\', 2),
    fixed(kGs, '^', 3),
    block(kGs, 'V', Cut, Op::Cut, Own, "CUT"),
    block(kGs, 'k', Barcode, Op::Barcode, Own, "BARCODE"),
    block(kGs, 'v', RasterImage, Op::RasterImage, Own, "RASTER IMAGE"),
    block(kGs, '(', Parameters, Op::Symbol, Own, "QR"),
    block(kGs, '8', LongParameters),
    block(kGs, '*', Downloaded),

    fixed(kFs, '&', 0, Op::ChineseOn, Name, "CHINESE ON"),
    fixed(kFs, '.', 0, Op::ChineseOff, Name, "CHINESE OFF"),
    fixed(kFs, '!', 1), fixed(kFs, '-', 1), fixed(kFs, 'W', 1), fixed(kFs, 'C', 1),
    fixed(kFs, 'S', 2), fixed(kFs, 'p', 2),
    block(kFs, '(', Parameters),

    // Real-time commands: the printer acts on them as they arrive. DLE EOT n asks for status byte n,
    // DLE ENQ n for a recovery.
    fixed(kDle, kEot, 1, Op::Quiet, Number, "STATUS"),
    fixed(kDle, 0x05, 1, Op::Quiet),
    block(kDle, 0x14, DleDc4, Op::RealTime, Own, "DRAWER"),
};

constexpr std::size_t introducerSlot(unsigned char b) { return b == kEsc ? 0 : b == kGs ? 1 : b == kFs ? 2 : 3; }

// Row number + 1 by introducer and function byte; 0 where no row is. A row given twice does not
// compile.
constexpr auto kIndex = [] {
    std::array<std::uint8_t, 4 * 256> index{};
    for (std::size_t i = 0; i < std::size(kCommands); ++i) {
        std::uint8_t& slot = index[introducerSlot(kCommands[i].introducer) * 256 + kCommands[i].function];
        if (slot != 0) throw "a command is in the table twice";
        slot = static_cast<std::uint8_t>(i + 1);
    }
    return index;
}();
static_assert(std::size(kCommands) < 255);

}  // namespace

const Command* findCommand(unsigned char introducer, unsigned char function) {
    if (!isEscposIntroducer(introducer)) return nullptr;
    const std::uint8_t row = kIndex[introducerSlot(introducer) * 256 + function];
    return row ? &kCommands[row - 1] : nullptr;
}

std::string_view barcodeData(const unsigned char* p, std::size_t len) {
    const std::size_t start = p[2] <= 6 ? 3 : 4;
    std::size_t end = len;
    if (p[2] <= 6 && end > start && p[end - 1] == 0) --end;
    if (end <= start) return {};
    return {reinterpret_cast<const char*>(p) + start, end - start};
}

}  // namespace tovi::escpos
