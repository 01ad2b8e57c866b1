// Window geometry that does not need a display: where a centred window goes.
#pragma once

#include "ui/ui.h"

namespace tovi::ui::gtk {

// The top-left corner of window once centred on screen in the directions asked for (the other
// coordinate is kept). Kept inside the screen: a window larger than the screen sits at its
// top-left corner; screen may start anywhere (a primary monitor right of another one).
struct Origin {
    int x = 0;
    int y = 0;
    bool operator==(const Origin&) const = default;
};
Origin centredOrigin(Rect window, Rect screen, bool horizontally, bool vertically);

}  // namespace tovi::ui::gtk
