#include "ui/gtk/geometry.h"

#include <gtest/gtest.h>

namespace tovi::ui::gtk {
namespace {

struct CentreCase {
    const char* what;
    Rect window;
    Rect screen;
    bool horizontally;
    bool vertically;
    Origin expected;
};

TEST(CentredOrigin, Table) {
    const CentreCase cases[] = {
        {"both ways", {0, 0, 500, 325}, {0, 0, 1280, 800}, true, true, {390, 237}},
        {"odd remainder rounds toward the top-left", {0, 0, 501, 326}, {0, 0, 1280, 801}, true, true, {389, 237}},
        {"horizontally only keeps y", {7, 40, 500, 325}, {0, 0, 1280, 800}, true, false, {390, 40}},
        {"vertically only keeps x", {7, 40, 500, 325}, {0, 0, 1280, 800}, false, true, {7, 237}},
        {"primary screen right of another one", {0, 0, 440, 260}, {1920, 0, 1280, 800}, true, true, {2340, 270}},
        {"wider than the screen sits at its left edge", {0, 0, 2000, 300}, {0, 0, 1280, 800}, true, true, {0, 250}},
        {"taller than the screen sits at its top edge", {0, 0, 300, 900}, {0, 0, 1280, 800}, true, true, {490, 0}},
        {"a kept coordinate is still kept inside", {1200, -50, 500, 325}, {0, 0, 1280, 800}, false, false, {780, 0}},
        {"exactly the screen's size", {5, 5, 1280, 800}, {0, 0, 1280, 800}, true, true, {0, 0}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(centredOrigin(c.window, c.screen, c.horizontally, c.vertically), c.expected) << c.what;
    }
}

}  // namespace
}  // namespace tovi::ui::gtk
