#include "escpos/picture_codes.h"

#include <zint.h>

#include <cstdio>

#include "common/handle.h"

void tovi::ZintSymbolTraits::close(type s) noexcept { ZBarcode_Delete(s); }

namespace tovi::escpos {

namespace {

// The symbol's modules, one pixel each: scale 0.5 makes zint's X dimension one pixel, and without
// quiet zones or human-readable text the bitmap is the symbol alone. A bar code's bars run from its
// top row down, so that row is the whole code.
CodeResult encode(int symbology, std::string_view data, int option1, bool matrix) {
    UniqueZintSymbol symbol(ZBarcode_Create());
    if (!symbol) return {std::nullopt, "out of memory"};
    zint_symbol* s = symbol.get();
    s->symbology = symbology;
    s->input_mode = DATA_MODE;
    s->option_1 = option1;
    s->scale = 0.5f;
    s->height = 1.0f;
    s->show_hrt = 0;
    s->output_options = BARCODE_NO_QUIET_ZONES;
    const int status = ZBarcode_Encode_and_Buffer(s, reinterpret_cast<const unsigned char*>(data.data()),
                                                  static_cast<int>(data.size()), 0);
    if (status >= ZINT_ERROR) return {std::nullopt, s->errtxt};
    const int rows = matrix ? s->rows : 1;
    if (!s->bitmap || s->bitmap_width != s->width || s->bitmap_height < rows)
        return {std::nullopt, "zint drew a bitmap of an unexpected size"};
    CodeModules m;
    m.width = s->width;
    m.height = rows;
    m.dark.resize(static_cast<std::size_t>(m.width) * static_cast<std::size_t>(m.height));
    for (std::size_t i = 0; i < m.dark.size(); ++i) m.dark[i] = s->bitmap[i * 3] < 128;  // RGB, black on white
    m.text = reinterpret_cast<const char*>(s->text);
    return {std::move(m), {}};
}

bool allDigits(std::string_view s) {
    for (const char c : s)
        if (c < '0' || c > '9') return false;
    return !s.empty();
}

// The printer's CODE128 data (code set selectors and all) as the characters it stands for.
std::optional<std::string> code128Text(std::string_view data) {
    std::string out;
    char set = 'B';
    for (std::size_t i = 0; i < data.size(); ++i) {
        const auto c = static_cast<unsigned char>(data[i]);
        if (c == '{' && i + 1 < data.size()) {
            const char next = data[++i];
            if (next == 'A' || next == 'B' || next == 'C') {
                set = next;
            } else if (next == '{') {
                out += '{';
            } else if (next != 'S') {
                return std::nullopt;  // FNC1 to FNC4: a GS1 or extended code the picture does not draw
            }
            continue;
        }
        if (set == 'C') {
            if (c > 99) return std::nullopt;
            char pair[3];
            std::snprintf(pair, sizeof pair, "%02u", static_cast<unsigned>(c));
            out += pair;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

}  // namespace

CodeResult qrCode(std::string_view data, QrModel model, int errorLevel) {
    if (model == QrModel::Model1) return {std::nullopt, "QR model 1"};
    if (data.empty()) return {std::nullopt, "no QR data stored"};
    return encode(model == QrModel::Micro ? BARCODE_MICROQR : BARCODE_QRCODE, data, errorLevel + 1, true);
}

CodeResult barCode(int system, std::string_view data) {
    // NUL-ended systems 0-6 are the counted 65-71.
    const int m = system <= 6 ? system + 65 : system;
    const std::size_t n = data.size();
    switch (m) {
    case 65:  // UPC-A: 11 digits, or 12 with the check digit
        if (!allDigits(data)) break;
        return encode(n == 12 ? BARCODE_UPCA_CHK : BARCODE_UPCA, data, 0, false);
    case 66:  // UPC-E
        if (!allDigits(data)) break;
        return encode(n == 8 ? BARCODE_UPCE_CHK : BARCODE_UPCE, data, 0, false);
    case 67:  // EAN-13 (JAN-13): 12 digits, or 13
        if (!allDigits(data) || (n != 12 && n != 13)) break;
        return encode(n == 13 ? BARCODE_EANX_CHK : BARCODE_EANX, data, 0, false);
    case 68:  // EAN-8: 7 digits, or 8
        if (!allDigits(data) || (n != 7 && n != 8)) break;
        return encode(n == 8 ? BARCODE_EANX_CHK : BARCODE_EANX, data, 0, false);
    case 69:
        return encode(BARCODE_CODE39, data, 0, false);
    case 70:
        return encode(BARCODE_C25INTER, data, 0, false);
    case 71:
        return encode(BARCODE_CODABAR, data, 0, false);
    case 72:
        return encode(BARCODE_CODE93, data, 0, false);
    case 73:
        if (const auto text = code128Text(data); text && !text->empty()) return encode(BARCODE_CODE128, *text, 0, false);
        return {std::nullopt, "CODE128 data with a function code or no characters"};
    default:
        return {std::nullopt, "bar code system " + std::to_string(system)};
    }
    return {std::nullopt, "bar code data the system does not take"};
}

}  // namespace tovi::escpos
