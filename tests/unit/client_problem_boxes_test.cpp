#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client/problem_boxes.h"
#include "client_fakes.h"

namespace tovi::client {
namespace {

using testing::FakeApplication;
using testing::FakeWindow;

// Problems that arrive while a box is up (the page keeps calling from the box's loop) wait for it
// and come one at a time, in order, never a box inside a box; past the bound they are dropped.
TEST(ProblemBoxes, ComeOneAtATimeInOrderUpToTheBound) {
    struct Case {
        const char* what;
        int duringFirst;  // problems sent while the first box is up
        std::size_t shown;
    } cases[] = {
        {"one problem", 0, 1},
        {"three more while it is up", 3, 4},
        {"as many as may wait", static_cast<int>(ProblemBoxes::kMaxWaiting), 1 + ProblemBoxes::kMaxWaiting},
        {"more than may wait", static_cast<int>(ProblemBoxes::kMaxWaiting) + 5, 1 + ProblemBoxes::kMaxWaiting},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeApplication app;
        FakeWindow owner("main");
        ProblemBoxes problems(app, "系统提示");
        problems.setOwner(&owner);
        app.onBox = [&] {
            if (app.boxes.size() != 1) return;
            for (int i = 1; i <= c.duringFirst; ++i) problems.show(std::to_string(i));
        };
        problems.show("0");
        ASSERT_EQ(app.boxes.size(), c.shown);
        for (std::size_t i = 0; i < app.boxes.size(); ++i) {
            EXPECT_EQ(app.boxes[i].text, std::to_string(i));
            EXPECT_EQ(app.boxes[i].caption, "系统提示");
            EXPECT_EQ(app.boxes[i].owner, &owner);
            EXPECT_EQ(app.boxes[i].depth, 1) << "box " << i << " was opened inside another";
        }
        // All dismissed: the next problem gets its box at once.
        app.onBox = nullptr;
        problems.show("later");
        EXPECT_EQ(app.boxes.back().text, "later");
        EXPECT_EQ(app.boxes.size(), c.shown + 1);
    }
}

}  // namespace
}  // namespace tovi::client
