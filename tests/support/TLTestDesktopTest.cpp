#include "TLTestDesktop.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using namespace std::chrono_literals;

bool canConnect(const std::string& display) {
    TLXcbConnection c(xcb_connect(display.c_str(), nullptr));
    return !xcb_connection_has_error(c.get());
}

// The panel's reservation itself is checked through the visible areas in the x11 window tests.
TEST(TLTestDesktop, BringsUpTheDesktopAndTearsItDown) {
    TLTestDesktop desktop;
    std::string error;
    ASSERT_TRUE(desktop.start(&error)) << error;
    const std::string display = desktop.displayName();
    ASSERT_TRUE(canConnect(display));
    ASSERT_EQ(desktop.clientList().size(), 1u); // the panel

    // A second desktop at the same time gets its own display.
    TLTestDesktop other;
    ASSERT_TRUE(other.start({.windowManager = false}, &error)) << error;
    EXPECT_NE(other.displayName(), display);
    EXPECT_TRUE(other.clientList().empty());
    other.stop();

    auto client = desktop.launchTestClient("Fixture probe", "fixtureprobe", 333, 222);
    ASSERT_TRUE(client);
    xcb_window_t window =
        desktop.waitForWindow(TLTestDesktop::WindowMatch::byTitle("Fixture probe", "fixtureprobe"));
    ASSERT_NE(window, XCB_WINDOW_NONE);
    EXPECT_EQ(desktop.waitForWindow(TLTestDesktop::WindowMatch::byPid(client->pid())), window);
    EXPECT_TRUE(desktop.waitUntil([&] { return desktop.activeWindow() == window; }));
    std::vector<uint32_t> e = desktop.cardinals(window, "_NET_FRAME_EXTENTS");
    ASSERT_EQ(e.size(), 4u);
    const std::optional<TLTestDesktop::Frame> frame = desktop.outerFrame(window);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->width, 333 + int(e[0] + e[1]));
    EXPECT_EQ(frame->height, 222 + int(e[2] + e[3]));

    client->terminate();
    EXPECT_TRUE(desktop.waitUntil([&] {
        auto list = desktop.clientList();
        return std::find(list.begin(), list.end(), window) == list.end();
    }));

    desktop.stop();
    EXPECT_FALSE(desktop.isRunning());
    EXPECT_FALSE(canConnect(display));
}

TEST(TLTestDesktop, WaitForWindowGivesUpAtTheDeadline) {
    TLTestDesktop desktop;
    std::string error;
    ASSERT_TRUE(desktop.start({.panel = false}, &error)) << error;
    auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(desktop.waitForWindow(TLTestDesktop::WindowMatch::byTitle("nobody"), 200ms), XCB_WINDOW_NONE);
    EXPECT_GE(std::chrono::steady_clock::now() - begin, 200ms);
}

TEST(TLTestProcess, RunCollectsOutputAndStatus) {
    std::string output;
    EXPECT_EQ(TLTestProcess::run({"sh", "-c", "echo hi; echo err >&2; exit 3"}, {}, &output, 5s), 3);
    EXPECT_EQ(TLTestProcess::run({"sh", "-c", "echo $TL_PROBE"}, {"TL_PROBE=set"}, &output, 5s), 0);
    EXPECT_EQ(output, "hi\nerr\nset\n");
    EXPECT_FALSE(TLTestProcess::run({"tl-no-such-program"}, {}, nullptr, 5s));
    EXPECT_FALSE(TLTestProcess::run({"sleep", "10"}, {}, nullptr, 100ms));
}

} // namespace
