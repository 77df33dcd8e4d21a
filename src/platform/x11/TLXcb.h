#pragma once

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <string_view>
#include <vector>

// RAII for xcb: every reply and error is owned by a unique_ptr that frees it, and a
// connection by one that disconnects it.
struct TLXcbFree {
    void operator()(void* p) const { std::free(p); }
};

template <typename T>
using TLXcbReply = std::unique_ptr<T, TLXcbFree>;

using TLXcbError = std::unique_ptr<xcb_generic_error_t, TLXcbFree>;

struct TLXcbDisconnect {
    void operator()(xcb_connection_t* c) const { xcb_disconnect(c); }
};

using TLXcbConnection = std::unique_ptr<xcb_connection_t, TLXcbDisconnect>;

// Interns a set of atoms with one round trip: all requests are sent before the first reply
// is read. Atoms the server cannot intern come back as XCB_ATOM_NONE.
inline std::vector<xcb_atom_t> tlInternAtoms(xcb_connection_t* c, const std::vector<std::string_view>& names,
                                             bool onlyIfExists = false) {
    std::vector<xcb_intern_atom_cookie_t> cookies;
    cookies.reserve(names.size());
    for (std::string_view name : names) {
        cookies.push_back(xcb_intern_atom(c, onlyIfExists, static_cast<uint16_t>(name.size()), name.data()));
    }
    std::vector<xcb_atom_t> atoms;
    atoms.reserve(names.size());
    for (xcb_intern_atom_cookie_t cookie : cookies) {
        TLXcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(c, cookie, nullptr));
        atoms.push_back(reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE});
    }
    return atoms;
}
