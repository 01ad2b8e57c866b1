#include "ui/gtk/geometry.h"

#include <algorithm>

namespace tovi::ui::gtk {

namespace {
int centredOn(int position, int size, int screenStart, int screenSize, bool centre) {
    int p = centre ? screenStart + (screenSize - size) / 2 : position;
    // Far edge first, then the near one: the near edge wins for a window larger than the screen.
    p = std::min(p, screenStart + screenSize - size);
    return std::max(p, screenStart);
}
}  // namespace

Origin centredOrigin(Rect window, Rect screen, bool horizontally, bool vertically) {
    return {centredOn(window.x, window.width, screen.x, screen.width, horizontally),
            centredOn(window.y, window.height, screen.y, screen.height, vertically)};
}

}  // namespace tovi::ui::gtk
