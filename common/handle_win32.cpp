#include <windows.h>

#include "common/handle.h"

namespace tovi {

void Win32FileTraits::close(type h) noexcept { CloseHandle(h); }
void Win32KernelTraits::close(type h) noexcept { CloseHandle(h); }

}  // namespace tovi
