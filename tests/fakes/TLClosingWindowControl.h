#pragma once

#include "TLWindowControl.h"

#include <functional>
#include <utility>

// A real window control with a window closed at the worst moment: between the read that found
// it and the write that is meant for it.
class TLClosingWindowControl final : public TLWindowControl {
public:
    TLClosingWindowControl(TLWindowControl& real, std::function<void()> close)
        : real_(real), close_(std::move(close)) {}
    bool isTrusted() override { return real_.isTrusted(); }
    void requestTrust() override { real_.requestTrust(); }
    TLFrontmostWindow readFrontmostWindow() override {
        TLFrontmostWindow front = real_.readFrontmostWindow();
        close_();
        return front;
    }
    std::optional<TLPoint> mouseLocation() override { return real_.mouseLocation(); }
    bool setFrame(std::uint64_t w, TLIntPoint p, TLIntSize s, QString* failure) override {
        return real_.setFrame(w, p, s, failure);
    }

private:
    TLWindowControl& real_;
    std::function<void()> close_;
};
