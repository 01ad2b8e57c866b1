#include "common/error.h"
#include "common/messages.h"

namespace tovi {

void reportUnhandledError(const std::exception_ptr& error) { showPlainMessage(unhandledErrorText(error)); }

}  // namespace tovi
