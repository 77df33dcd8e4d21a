#include "TLTestDesktop.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

bool canConnect(const std::string& display) {
    xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
    bool ok = !xcb_connection_has_error(c);
    xcb_disconnect(c);
    return ok;
}

TEST(TLTestDesktop, BringsUpTheDesktopAndTearsItDown) {
    TLTestDesktop desktop;
    std::string error;
    ASSERT_TRUE(desktop.start(&error)) << error;
    const std::string display = desktop.displayName();
    ASSERT_TRUE(canConnect(display));

    // The panel is a dock on the left monitor only, and reserves its height there.
    std::vector<xcb_window_t> clients = desktop.clientList();
    ASSERT_EQ(clients.size(), 1u);
    std::vector<uint32_t> strut = desktop.cardinals(clients[0], "_NET_WM_STRUT_PARTIAL");
    ASSERT_EQ(strut.size(), 12u);
    EXPECT_EQ(strut[3], static_cast<uint32_t>(TLTestDesktop::kPanelHeight));
    EXPECT_EQ(strut[10], 0u);
    EXPECT_EQ(strut[11], 1439u);

    // A second desktop at the same time gets its own display.
    TLTestDesktop other;
    TLTestDesktop::Options bare;
    bare.windowManager = false;
    ASSERT_TRUE(other.start(bare, &error)) << error;
    EXPECT_NE(other.displayName(), display);
    EXPECT_TRUE(other.clientList().empty());
    other.stop();

    auto client = desktop.launchTestClient("Fixture probe", "fixtureprobe", 333, 222);
    ASSERT_TRUE(client);
    xcb_window_t window =
        desktop.waitForWindow(TLTestDesktop::WindowMatch::byTitle("Fixture probe", "fixtureprobe"));
    ASSERT_NE(window, XCB_WINDOW_NONE);
    EXPECT_TRUE(desktop.waitForWindow(TLTestDesktop::WindowMatch::byPid(client->pid())) == window);
    EXPECT_TRUE(desktop.waitUntil([&] { return desktop.activeWindow() == window; }));
    std::optional<TLTestDesktop::Frame> frame = desktop.outerFrame(window);
    ASSERT_TRUE(frame);
    std::vector<uint32_t> extents = desktop.cardinals(window, "_NET_FRAME_EXTENTS");
    ASSERT_EQ(extents.size(), 4u);
    EXPECT_EQ(frame->width, 333 + static_cast<int>(extents[0] + extents[1]));
    EXPECT_EQ(frame->height, 222 + static_cast<int>(extents[2] + extents[3]));

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
    TLTestDesktop::Options noPanel;
    noPanel.panel = false;
    ASSERT_TRUE(desktop.start(noPanel, &error)) << error;
    auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(
        desktop.waitForWindow(TLTestDesktop::WindowMatch::byTitle("nobody"), std::chrono::milliseconds(200)),
        XCB_WINDOW_NONE);
    EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(200));
}

TEST(TLTestProcess, RunCollectsOutputAndStatus) {
    std::string output;
    EXPECT_EQ(TLTestProcess::run({"sh", "-c", "echo hi; echo err >&2; exit 3"}, {}, &output,
                                 std::chrono::milliseconds(5000)),
              3);
    EXPECT_NE(output.find("hi"), std::string::npos);
    EXPECT_NE(output.find("err"), std::string::npos);
    EXPECT_EQ(TLTestProcess::run({"sh", "-c", "echo $TL_PROBE"}, {"TL_PROBE=set"}, &output,
                                 std::chrono::milliseconds(5000)),
              0);
    EXPECT_NE(output.find("set"), std::string::npos);
    EXPECT_FALSE(TLTestProcess::run({"tl-no-such-program"}, {}, nullptr, std::chrono::milliseconds(5000)));
    EXPECT_FALSE(TLTestProcess::run({"sleep", "10"}, {}, nullptr, std::chrono::milliseconds(100)));
}

} // namespace
