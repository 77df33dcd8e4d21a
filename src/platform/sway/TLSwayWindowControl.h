#pragma once

#include "TLSwayTree.h"
#include "TLWindowControl.h"

#include <QTimer>

#include <optional>

class TLSwaySession;

// Window control on sway, through its IPC.
//
// - Trusted: the IPC connection is up. Sway has no permission to grant.
// - Frontmost application and window: the focused container of GET_TREE, named after its
//   app_id (Wayland) or window class (XWayland), else its process. A focused split container
//   is an application without a movable window; a focused workspace is no application.
// - Frame: the container's outer rectangle, title bar and border included.
// - Displays: the active outputs of the same tree, with their current workspace's area.
// - setFrame: one RUN_COMMAND for the container: leave fullscreen and float it where needed,
//   then `resize set`, then `move absolute position` (a floating resize keeps the centre, so
//   the size goes first), each result checked. A window floated by it gets its frame once more
//   a moment later, as its client may still commit a frame drawn for its tiled size.
//
// A read is one request; nothing is cached between presses, so output changes count at the
// next one.
class TLSwayWindowControl final : public TLWindowControl {
public:
    explicit TLSwayWindowControl(TLSwaySession& session);

    bool isTrusted() override;
    void requestTrust() override;
    TLFrontmostWindow readFrontmostWindow() override;
    std::optional<TLPoint> mouseLocation() override;
    bool setFrame(std::uint64_t window, TLIntPoint position, TLIntSize size,
                  QString* failure = nullptr) override;

    // The command setFrame sends for a container as the tree shows it.
    static QString frameCommand(const TLSwayTree::Container& container, TLIntPoint layoutPosition,
                                TLIntSize size);

private:
    std::optional<TLSwayTree> readTree();

    TLSwaySession& session_;
    std::optional<TLSwayTree> lastRead_; // for the setFrame that follows a read
    static constexpr int kSettleMs = 250;
    QTimer settle_;
    QString settleCommand_;
};
