#include "TLX11WindowFrame.h"

#include "TLX11Connection.h"

#include <algorithm>

namespace {

std::array<std::uint32_t, 4> four(const std::vector<std::uint32_t>& values) {
    std::array<std::uint32_t, 4> result{};
    if (values.size() >= 4) {
        std::copy_n(values.begin(), 4, result.begin());
    }
    return result;
}

} // namespace

TLX11FrameRequest::TLX11FrameRequest(const TLX11Connection& c, xcb_window_t window)
    : geometry_(xcb_get_geometry(c.get(), window)),
      origin_(xcb_translate_coordinates(c.get(), window, c.root(), 0, 0)),
      extents_(c.requestProperty(window, TLX11Atom::NetFrameExtents, 4)),
      shadow_(c.requestProperty(window, TLX11Atom::GtkFrameExtents, 4)),
      state_(c.requestProperty(window, TLX11Atom::NetWmState, 32)),
      hints_(c.requestProperty(window, XCB_ATOM_WM_NORMAL_HINTS, 18)) {}

std::int32_t TLX11FrameRequest::collect(const TLX11Connection& c, TLX11WindowFrame* out) const {
    xcb_generic_error_t* geometryError = nullptr;
    xcb_generic_error_t* originError = nullptr;
    TLXcbReply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c.get(), geometry_, &geometryError));
    const TLXcbError geometryOwner(geometryError);
    TLXcbReply<xcb_translate_coordinates_reply_t> origin(
        xcb_translate_coordinates_reply(c.get(), origin_, &originError));
    const TLXcbError originOwner(originError);
    const auto extents = c.property(extents_);
    const auto shadow = c.property(shadow_);
    const auto state = c.property(state_);
    const std::vector<std::uint32_t> hints = TLX11Connection::values32(c.property(hints_).get());
    if (geometryError != nullptr || originError != nullptr) {
        return (geometryError != nullptr ? geometryError : originError)->error_code;
    }
    if (!geometry || !origin) {
        return -1;
    }
    TLX11WindowFrame f;
    f.frame = four(TLX11Connection::values32(extents.get()));
    f.shadow = four(TLX11Connection::values32(shadow.get()));
    const auto& [fl, fr, ft, fb] = f.frame;
    const auto& [sl, sr, st, sb] = f.shadow;
    f.outer = {std::int64_t{origin->dst_x} - fl + sl, std::int64_t{origin->dst_y} - ft + st,
               std::int64_t{geometry->width} + fl + fr - sl - sr,
               std::int64_t{geometry->height} + ft + fb - st - sb};
    const std::vector<std::uint32_t> states = TLX11Connection::values32(state.get());
    f.maximized = c.contains(states, TLX11Atom::NetWmStateMaximizedVert) ||
                  c.contains(states, TLX11Atom::NetWmStateMaximizedHorz);
    f.fullscreen = c.contains(states, TLX11Atom::NetWmStateFullscreen);
    f.shaded = c.contains(states, TLX11Atom::NetWmStateShaded);
    // WM_SIZE_HINTS: flags, then x, y, width, height, min, max, ...; a base size stands in for
    // a minimum the client does not give.
    constexpr std::uint32_t kMinSize = 1u << 4, kMaxSize = 1u << 5, kBaseSize = 1u << 8;
    if (hints.size() >= 9) { // older clients write 15 values, without the base size
        const std::uint32_t flags = hints[0];
        if ((flags & kMinSize) != 0) {
            f.minSize = {hints[5], hints[6]};
        } else if ((flags & kBaseSize) != 0 && hints.size() >= 17) {
            f.minSize = {hints[15], hints[16]};
        }
        if ((flags & kMaxSize) != 0) {
            f.maxSize = {hints[7], hints[8]};
        }
    }
    *out = f;
    return 0;
}
