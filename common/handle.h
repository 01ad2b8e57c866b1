// One RAII wrapper for every kind of handle, and every kind the project uses, named once here.
// The traits type names the raw type, its "no handle" value and how to close it, so that a HANDLE
// whose "none" is INVALID_HANDLE_VALUE and one whose "none" is null can never be mixed up.
// Portable: no system header. Each close is defined beside the system library that provides it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <utility>

// Objects of the receipt picture's libraries (zint, FreeType, fontconfig), declared only.
struct zint_symbol;
struct FT_LibraryRec_;
struct FT_FaceRec_;
struct _FcPattern;

namespace tovi {

template <typename Traits>
class UniqueHandle {
public:
    using type = typename Traits::type;

    UniqueHandle() noexcept : h_(Traits::none()) {}
    explicit UniqueHandle(type h) noexcept : h_(h) {}
    UniqueHandle(UniqueHandle&& o) noexcept : h_(o.release()) {}
    UniqueHandle& operator=(UniqueHandle&& o) noexcept {
        if (this != &o) reset(o.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    type get() const noexcept { return h_; }
    explicit operator bool() const noexcept { return h_ != Traits::none(); }
    type release() noexcept { return std::exchange(h_, Traits::none()); }
    void reset(type h = Traits::none()) noexcept {
        const type old = std::exchange(h_, h);
        if (old != Traits::none()) Traits::close(old);
    }

private:
    type h_;
};

// A loaded shared library (dlopen's handle, an HMODULE): none is null. Closed in library_*.cpp.
struct LibraryTraits {
    using type = void*;
    static type none() noexcept { return nullptr; }
    static void close(type h) noexcept;
};
using UniqueLibrary = UniqueHandle<LibraryTraits>;

// A socket: SOCKET on Windows, a file descriptor on POSIX; both fit, and "none" is all bits set in
// both (INVALID_SOCKET, and -1 as unsigned). Closed by the socket layer that links the system's
// socket library (common/net_*.cpp).
struct SocketTraits {
    using type = std::uintptr_t;
    static type none() noexcept { return ~type{0}; }
    static void close(type s) noexcept;
};
using UniqueSocket = UniqueHandle<SocketTraits>;

#ifdef _WIN32
// The Win32 kinds below whose none is INVALID_HANDLE_VALUE; each declares its own close.
struct Win32InvalidNone {
    using type = void*;
    static type none() noexcept { return reinterpret_cast<void*>(~std::uintptr_t{0}); }
};

// A HANDLE from CreateFileW (files, devices, ports). handle_win32.cpp.
struct Win32FileTraits : Win32InvalidNone {
    static void close(type h) noexcept;
};
using UniqueWin32File = UniqueHandle<Win32FileTraits>;

// A search HANDLE from FindFirstFileW: closed by FindClose, not CloseHandle. handle_win32.cpp.
struct Win32FindTraits : Win32InvalidNone {
    static void close(type h) noexcept;
};
using UniqueWin32Find = UniqueHandle<Win32FindTraits>;

// The Win32 kinds below whose none is null; each declares its own close.
struct Win32NullNone {
    using type = void*;
    static type none() noexcept { return nullptr; }
};

// A printer HANDLE from OpenPrinterW. Closed in devices/printraw_win32.cpp, the only piece that
// links the spooler.
struct Win32PrinterTraits : Win32NullNone {
    static void close(type h) noexcept;
};
using UniqueWin32Printer = UniqueHandle<Win32PrinterTraits>;

// A kernel object HANDLE whose none is null (a process from ShellExecuteExW, a thread, an event):
// never mixed with UniqueWin32File, whose none is INVALID_HANDLE_VALUE. handle_win32.cpp.
struct Win32KernelTraits : Win32NullNone {
    static void close(type h) noexcept;
};
using UniqueWin32Handle = UniqueHandle<Win32KernelTraits>;

// A GDI object (bitmap, font, brush). Closed (DeleteObject) in ui/win32/ui_win32.cpp, the only
// piece that links GDI.
struct Win32GdiObjectTraits : Win32NullNone {
    static void close(type h) noexcept;
};
using UniqueGdiObject = UniqueHandle<Win32GdiObjectTraits>;

// A COM interface pointer we hold one reference of: released with its own Release(), so any
// interface fits without a system header here.
template <typename Interface>
struct ComTraits {
    using type = Interface*;
    static type none() noexcept { return nullptr; }
    static void close(type p) noexcept { p->Release(); }
};
template <typename Interface>
using UniqueComPtr = UniqueHandle<ComTraits<Interface>>;
#else
// A POSIX file descriptor (files, devices, pipes): none is -1. handle_posix.cpp.
struct FdTraits {
    using type = int;
    static type none() noexcept { return -1; }
    static void close(type fd) noexcept;
};
using UniqueFd = UniqueHandle<FdTraits>;
#endif

// The receipt picture's objects, each closed beside the code that uses the library (native builds
// only): a zint symbol (escpos/picture_codes.cpp); a FreeType library and face, and a fontconfig
// pattern (escpos/picture_font.cpp).
template <typename T>
struct PointerNone {
    using type = T*;
    static type none() noexcept { return nullptr; }
};
struct ZintSymbolTraits : PointerNone<zint_symbol> {
    static void close(type s) noexcept;
};
using UniqueZintSymbol = UniqueHandle<ZintSymbolTraits>;
struct FreeTypeLibraryTraits : PointerNone<FT_LibraryRec_> {
    static void close(type l) noexcept;
};
using UniqueFreeTypeLibrary = UniqueHandle<FreeTypeLibraryTraits>;
struct FreeTypeFaceTraits : PointerNone<FT_FaceRec_> {
    static void close(type f) noexcept;
};
using UniqueFreeTypeFace = UniqueHandle<FreeTypeFaceTraits>;
struct FontPatternTraits : PointerNone<_FcPattern> {
    static void close(type p) noexcept;
};
using UniqueFontPattern = UniqueHandle<FontPatternTraits>;

// A C stream from std::fopen: none is null. Closed by the C library, which every program links.
struct CFileTraits {
    using type = std::FILE*;
    static type none() noexcept { return nullptr; }
    static void close(type f) noexcept { std::fclose(f); }
};
using UniqueCFile = UniqueHandle<CFileTraits>;

}  // namespace tovi
