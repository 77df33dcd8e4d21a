#pragma once

#include "TLDisplays.h"
#include "TLX11Snapshot.h"

#include <memory>

class TLX11Session;

// Displays on X11: the RandR 1.5 monitors, primary first, each with its visible area from
// _GTK_WORKAREAS_D<n>, else the panels' reservations, else _NET_WORKAREA (TLVisibleFrames).
// Read afresh for every placement: from the session's snapshot while it is current (it was
// fetched moments ago in the same layout application), else with two batched round trips.
class TLX11Displays final : public TLDisplays {
public:
    explicit TLX11Displays(std::shared_ptr<TLX11Session> session);

    std::vector<TLDisplay> displays() override;
    // X11 has no key-window display of its own; the primary monitor stands in.
    std::optional<std::size_t> mainDisplay() override;
    std::optional<TLPoint> mouseLocation() override;

    // The same in root coordinates.
    std::optional<TLX11RootLayout> rootLayout();

private:
    std::shared_ptr<TLX11Session> session_;
};
