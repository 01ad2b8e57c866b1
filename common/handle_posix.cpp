#include <unistd.h>

#include "common/handle.h"

namespace tovi {

// The descriptor is gone whatever close reports (EINTR included); retrying could close another's.
void FdTraits::close(type fd) noexcept { ::close(fd); }

}  // namespace tovi
