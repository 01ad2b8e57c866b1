#include <windows.h>

#include "common/handle.h"

namespace tovi {

void Win32FileTraits::close(type h) noexcept { CloseHandle(h); }
void Win32KernelTraits::close(type h) noexcept { CloseHandle(h); }

void Win32FindTraits::close(type h) noexcept { FindClose(h); }

}  // namespace tovi
