// The splash picture (resources/splash.jpg, 440 x 260 baseline JPEG), embedded at build time.
#pragma once

#include <cstddef>

namespace tovi::client {

extern const unsigned char kSplashJpeg[];
extern const std::size_t kSplashJpegSize;

}  // namespace tovi::client
