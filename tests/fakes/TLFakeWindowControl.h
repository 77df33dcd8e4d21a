#pragma once

#include "TLTest.h"
#include "TLWindowControl.h"

// A scripted window system for the window mover: what a read finds is set up front, and every
// call is recorded in order ("read", "setFrame 7 720,25 720x875", ...).
class TLFakeWindowControl final : public TLWindowControl {
public:
    // A display in global coordinates with a bar of the given height at its top.
    static TLDisplay display(double x, double y, double width, double height, double topBar = 0) {
        return TLDisplay{{x, y, width, height}, {x, y, width, height - topBar}};
    }

    bool trusted = true;
    // "Editor" with window 7 at 100,100, 800 x 600, on one 1440 x 900 display below a 25-point bar.
    TLFrontmostWindow front{
        true, QString("Editor"), 7, 0, TLRect{100, 100, 800, 600}, {display(0, 0, 1440, 900, 25)}, 0};
    std::optional<TLPoint> mouse;
    std::vector<std::string> calls;

    bool isTrusted() override {
        calls.emplace_back("isTrusted");
        return trusted;
    }
    void requestTrust() override { calls.emplace_back("requestTrust"); }
    TLFrontmostWindow readFrontmostWindow() override {
        calls.emplace_back("read");
        return front;
    }
    std::optional<TLPoint> mouseLocation() override {
        calls.emplace_back("mouseLocation");
        return mouse;
    }
    std::optional<QString> refusal; // setFrame fails with it
    bool setFrame(std::uint64_t window, TLIntPoint p, TLIntSize s, QString* failure) override {
        if (refusal && failure) {
            *failure = *refusal;
        }
        calls.push_back("setFrame " + std::to_string(window) + " " + std::to_string(p.x) + "," +
                        std::to_string(p.y) + " " + std::to_string(s.width) + "x" + std::to_string(s.height));
        return !refusal;
    }
};
