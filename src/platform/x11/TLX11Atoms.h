#pragma once

#include <array>
#include <cstddef>
#include <string_view>

// Every atom the X11 backends use, in one table: the enumerator and the atom's name side by
// side, so the two cannot drift apart.
#define TL_X11_ATOMS(X)                                                                                      \
    X(NetSupported, "_NET_SUPPORTED")                                                                        \
    X(NetSupportingWmCheck, "_NET_SUPPORTING_WM_CHECK")                                                      \
    X(NetActiveWindow, "_NET_ACTIVE_WINDOW")                                                                 \
    X(NetClientList, "_NET_CLIENT_LIST")                                                                     \
    X(NetClientListStacking, "_NET_CLIENT_LIST_STACKING")                                                    \
    X(NetCurrentDesktop, "_NET_CURRENT_DESKTOP")                                                             \
    X(NetWorkarea, "_NET_WORKAREA")                                                                          \
    X(NetWmWindowType, "_NET_WM_WINDOW_TYPE")                                                                \
    X(NetWmWindowTypeDesktop, "_NET_WM_WINDOW_TYPE_DESKTOP")                                                 \
    X(NetWmWindowTypeDock, "_NET_WM_WINDOW_TYPE_DOCK")                                                       \
    X(NetWmState, "_NET_WM_STATE")                                                                           \
    X(NetWmStateMaximizedVert, "_NET_WM_STATE_MAXIMIZED_VERT")                                               \
    X(NetWmStateMaximizedHorz, "_NET_WM_STATE_MAXIMIZED_HORZ")                                               \
    X(NetWmStateFullscreen, "_NET_WM_STATE_FULLSCREEN")                                                      \
    X(NetWmStateShaded, "_NET_WM_STATE_SHADED")                                                              \
    X(NetFrameExtents, "_NET_FRAME_EXTENTS")                                                                 \
    X(GtkFrameExtents, "_GTK_FRAME_EXTENTS")                                                                 \
    X(NetMoveresizeWindow, "_NET_MOVERESIZE_WINDOW")                                                         \
    X(NetWmPid, "_NET_WM_PID")                                                                               \
    X(NetWmStrut, "_NET_WM_STRUT")                                                                           \
    X(NetWmStrutPartial, "_NET_WM_STRUT_PARTIAL")

enum class TLX11Atom : std::size_t {
#define TL_X11_ATOM_ENUMERATOR(name, text) name,
    TL_X11_ATOMS(TL_X11_ATOM_ENUMERATOR)
#undef TL_X11_ATOM_ENUMERATOR
};

inline constexpr std::array kTLX11AtomNames = {
#define TL_X11_ATOM_NAME(name, text) std::string_view(text),
    TL_X11_ATOMS(TL_X11_ATOM_NAME)
#undef TL_X11_ATOM_NAME
};
