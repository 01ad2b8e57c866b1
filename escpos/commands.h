// The ESC/POS commands we know, one row each: how the command is framed, what the transcript calls
// it, and what the picture does with it. Framing (framing.cpp), the transcript (transcript.cpp)
// and the picture (picture.cpp) read this table; a new command is a new row, and a reader of
// printer replies finds the real-time commands here too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tovi::escpos {

// The bytes that start a command.
inline constexpr unsigned char kDle = 0x10;
inline constexpr unsigned char kEsc = 0x1B;
inline constexpr unsigned char kFs = 0x1C;
inline constexpr unsigned char kGs = 0x1D;
// DLE EOT n: real-time status byte n (escpos/status.h reads the replies).
inline constexpr unsigned char kEot = 0x04;
inline constexpr bool isEscposIntroducer(unsigned char b) { return b == kEsc || b == kGs || b == kFs || b == kDle; }

// How a command's length follows from its bytes (framing.cpp measures each).
enum class Shape : std::uint8_t {
    Fixed,     // introducer + function byte + `params` bytes of any value
    Cut,       // GS V m [n]: n for the m whose cut feeds first (cutOf)
    Barcode,   // GS k m ...: data ended by NUL (m <= 6) or counted (m 65-73)
    TabStops,  // ESC D n1 ... NUL
    DleDc4,    // DLE DC4 fn [m t]
    // Blocks whose length comes from count bytes. They hold image and symbol data of any value, so
    // only data of a known length is framed by them; winPrint's end rule keeps them two bytes long.
    BitImage,        // ESC * m nL nH d1 ... (n columns of 1 or 3 bytes)
    RasterImage,     // GS v 0 m xL xH yL yH d1 ... (x * y bytes)
    Parameters,      // ESC ( / GS ( / FS ( fn pL pH d1 ... (pL + 256 pH bytes)
    LongParameters,  // GS 8 L p1 p2 p3 p4 d1 ... (32-bit count)
    Downloaded,      // GS * x y d1 ... (x * y * 8 bytes)
};

// What a command does to the paper; the picture acts on it.
enum class Op : std::uint8_t {
    NotDrawn,  // framed and named only: the picture skips it and lists it
    Quiet,     // nothing on paper (status for the host, peripherals, character sets)
    Init, Drawer, RealTime, Bold, Underline, Align, PrintMode, Font, CodePage, ChineseOn, ChineseOff,
    FeedLines, FeedDots, DefaultLineSpacing, LineSpacing, CharSpacing, Position, RelativePosition, TabStops,
    Size, Reverse, LeftMargin, PrintWidth, FullCut, PartialCut, Cut, BitImage, RasterImage, Symbol,
    BarHeight, BarWidth, BarText, BarFont, Barcode,
};

// How the transcript shows a command: "[" name, the parameter as `show` says, "]".
enum class Show : std::uint8_t {
    Bytes,   // the command's bytes in hex, no name
    Name,    // the name alone
    OnOff,   // ON or OFF from bit 0 of the first parameter
    Number,  // the first parameter in decimal, then `words` (a unit) when given
    Word,    // the two parameter bytes as a 16-bit little-endian number
    Hex,     // the first parameter in hex
    Choice,  // the word of `words` (blank-separated) that the selector value picks, else the number
    Own,     // built from the parameters by the transcript's own rule for the op
};

struct Command {
    unsigned char introducer;
    unsigned char function;
    Shape shape;
    std::uint8_t params;  // Shape::Fixed: parameter bytes after the function byte
    Op op;
    Show show;
    std::string_view name;
    std::string_view words = {};
};

// The row of a command, or nullptr for a command that is not in the table (two bytes long, named
// by its bytes, not drawn).
const Command* findCommand(unsigned char introducer, unsigned char function);

// ESC/POS selectors accept both 0/1/2 and '0'/'1'/'2'.
constexpr int selector(unsigned char n) { return n >= '0' && n <= '9' ? n - '0' : n; }

// GS V m: full or partial cut, and whether the byte n follows m (feed n dots past the cutting
// position, then cut).
struct CutKind {
    bool full = false;
    bool feeds = false;
};
constexpr CutKind cutOf(unsigned char m) {
    const bool feeds = m == 65 || m == 66 || m == 97 || m == 98 || m == 103 || m == 104;
    return {selector(m) == 0 || m == 65 || m == 97 || m == 103, feeds};
}

// ESC p m t1 t2 and DLE DC4 1 m t: the drawer connector pin that m selects.
constexpr int drawerPin(unsigned char m) { return selector(m) == 1 ? 5 : 2; }

// GS ( k pL pH cn fn ...: the QR code functions (cn 49).
inline constexpr unsigned char kQrSymbol = 49;
enum QrFunction : unsigned char { kQrModel = 65, kQrModule = 67, kQrErrorLevel = 69, kQrStore = 80, kQrPrint = 81, kQrSize = 82 };

// GS k m ...: the bar code's data bytes, without the NUL that ends the forms m <= 6. `len` is the
// whole command's length (at least 3).
std::string_view barcodeData(const unsigned char* p, std::size_t len);

}  // namespace tovi::escpos
