// The bytes the support program sends: receipt buffers and the drawer pulse for the printer
// (ESC/POS), and the one message per run for the customer display.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tovi::escpos {

// ESC @: reset the printer.
inline constexpr std::string_view kPrinterReset{"\x1B\x40", 2};
// ESC p 0x30 0x3C 0x78: drawer pulse on connector pin 2, 60 x 2 ms on, 120 x 2 ms off. All three
// parameter bytes are required: without them the printer swallows the bytes that follow.
inline constexpr std::string_view kDrawerPulse{"\x1B\x70\x30\x3C\x78", 5};
// GS V 66 0: feed to the cutting position, then a partial cut. Note the 0x00 parameter byte.
inline constexpr std::string_view kPartialCut{"\x1D\x56\x42\x00", 4};

// The lines of a job file: a line ends at CR LF, at a lone CR or at a lone LF, and the break bytes
// are dropped. The text after the last break is one more line (empty when the content ends with
// a break), so empty content is one empty line.
std::vector<std::string_view> splitLines(std::string_view content);

// Reset, the drawer pulse if openDrawer, every line of content followed by LF, feedLines more LFs
// (none when zero or negative), the partial cut if cut. Content bytes pass unchanged.
std::string buildPrintBuffer(std::string_view content, bool openDrawer, bool cut, std::int32_t feedLines);

// Reset followed by the drawer pulse: the 7 bytes of OPENCASH.
std::string drawerBuffer();

// Display mode "5" (exactly): FF, which clears the display. Any other mode:
// ESC s + mode + ESC Q A + amount + CR, both texts unchanged.
std::string displayMessage(std::string_view mode, std::string_view amount);

}  // namespace tovi::escpos
