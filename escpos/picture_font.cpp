#include "escpos/picture_font.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <optional>

#include "common/error.h"

void tovi::FreeTypeLibraryTraits::close(type l) noexcept { FT_Done_FreeType(l); }
void tovi::FreeTypeFaceTraits::close(type f) noexcept { FT_Done_Face(f); }
void tovi::FontPatternTraits::close(type p) noexcept { FcPatternDestroy(p); }

namespace tovi::escpos {

namespace {

// What fontconfig is asked for, best first: the monospaced face of Debian's Chinese font (its
// Latin letters are half as wide as its Chinese ones, as on a printer), then any Chinese font.
constexpr const char* kWanted[] = {"WenQuanYi Micro Hei Mono:lang=zh-cn", "monospace:lang=zh-cn", ":lang=zh-cn"};

struct FontFile {
    std::string path;
    int index = 0;
};

// The file of the first match that has the Latin and the Chinese characters a receipt needs.
std::optional<FontFile> findFont() {
    if (!FcInit()) return std::nullopt;
    for (const char* wanted : kWanted) {
        UniqueFontPattern pattern(FcNameParse(reinterpret_cast<const FcChar8*>(wanted)));
        if (!pattern) continue;
        FcConfigSubstitute(nullptr, pattern.get(), FcMatchPattern);
        FcDefaultSubstitute(pattern.get());
        FcResult result = FcResultNoMatch;
        UniqueFontPattern match(FcFontMatch(nullptr, pattern.get(), &result));
        if (!match || result != FcResultMatch) continue;
        FcChar8* file = nullptr;
        FcCharSet* chars = nullptr;
        int index = 0;
        if (FcPatternGetString(match.get(), FC_FILE, 0, &file) != FcResultMatch ||
            FcPatternGetCharSet(match.get(), FC_CHARSET, 0, &chars) != FcResultMatch)
            continue;
        FcPatternGetInteger(match.get(), FC_INDEX, 0, &index);
        if (FcCharSetHasChar(chars, U'A') && FcCharSetHasChar(chars, U'\u4E2D'))  // 中
            return FontFile{reinterpret_cast<const char*>(file), index};
    }
    return std::nullopt;
}

}  // namespace

ReceiptFont::ReceiptFont() {
    const auto font = findFont();
    if (!font) throw ioError("no font with Chinese characters (Debian: fonts-wqy-microhei)");
    FT_Library library = nullptr;
    if (FT_Init_FreeType(&library) != 0) throw ioError("FreeType cannot start");
    library_.reset(library);
    FT_Face face = nullptr;
    if (FT_New_Face(library, font->path.c_str(), font->index, &face) != 0)
        throw ioError("cannot open the font " + font->path);
    face_.reset(face);
    file_ = font->path;
}

const std::vector<unsigned char>& ReceiptFont::glyph(char32_t code, int width, int height) {
    const auto key = std::make_tuple(code, width, height);
    if (const auto it = cache_.find(key); it != cache_.end()) return it->second;
    std::vector<unsigned char>& cell = cache_[key];
    cell.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
    const auto set = [&](int x, int y) {
        if (x >= 0 && x < width && y >= 0 && y < height) cell[static_cast<std::size_t>(y * width + x)] = 1;
    };
    FT_Face face = face_.get();
    const FT_UInt index = FT_Get_Char_Index(face, code);
    if (index == 0 || FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(height)) != 0 ||
        FT_Load_Glyph(face, index, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO) != 0 ||
        face->glyph->bitmap.pixel_mode != FT_PIXEL_MODE_MONO) {
        // The empty box a printer without the character shows.
        for (int x = 1; x < width - 1; ++x) set(x, 2), set(x, height - 3);
        for (int y = 2; y < height - 2; ++y) set(1, y), set(width - 2, y);
        return cell;
    }
    const FT_GlyphSlot slot = face->glyph;
    // The baseline where the font's ascent and descent share the cell's height.
    const long ascent = face->ascender, descent = -face->descender;
    const int baseline = ascent + descent > 0 ? static_cast<int>(height * ascent / (ascent + descent)) : height * 4 / 5;
    const int advance = static_cast<int>(slot->advance.x >> 6);
    const int left = (width - advance) / 2 + slot->bitmap_left;
    const int top = baseline - slot->bitmap_top;
    const FT_Bitmap& bitmap = slot->bitmap;
    for (unsigned row = 0; row < bitmap.rows; ++row) {
        const unsigned char* bits = bitmap.buffer + static_cast<long>(row) * bitmap.pitch;
        for (unsigned col = 0; col < bitmap.width; ++col)
            if (bits[col >> 3] & (0x80 >> (col & 7))) set(left + static_cast<int>(col), top + static_cast<int>(row));
    }
    return cell;
}

}  // namespace tovi::escpos
