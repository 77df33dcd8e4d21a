// tl_test_client: a plain xcb window for x11 tests.
//
//   tl_test_client --title T --class C --size WxH [--gtk-extents L,R,T,B] [--type NAME]
//                  [--strut L,R,T,B] [--companion TITLE] [--copies N]
//
// Sets WM_NAME/_NET_WM_NAME, WM_CLASS (instance and class C), _NET_WM_PID, WM_NORMAL_HINTS with a
// small minimum size and no increments, accepts the input focus and ends on WM_DELETE_WINDOW or
// SIGTERM. --gtk-extents makes it look like a client-side-decorated window: no frame from the
// window manager and an invisible shadow margin published in _GTK_FRAME_EXTENTS. --type sets
// _NET_WM_WINDOW_TYPE_<NAME> (DESKTOP, DOCK, DIALOG, ...), --strut a panel's _NET_WM_STRUT.
// --companion opens a second, plain window of the same process with that title; --copies opens
// N more plain windows, titled "T 1" to "T N".

#include "TLXcb.h"

#include <xcb/xcb_icccm.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

int usage() {
    std::fprintf(stderr, "usage: tl_test_client --title T --class C --size WxH [--gtk-extents L,R,T,B] "
                         "[--type NAME] [--strut L,R,T,B] [--companion TITLE] [--copies N]\n");
    return 2;
}

bool fourValues(const std::string& text, std::vector<uint32_t>* out) {
    unsigned l, r, t, b;
    if (std::sscanf(text.c_str(), "%u,%u,%u,%u", &l, &r, &t, &b) != 4) {
        return false;
    }
    *out = {l, r, t, b};
    return true;
}

} // namespace

int main(int argc, char** argv) {
    std::string title = "tl_test_client", wmClass = "tl_test_client", windowType, companion;
    unsigned width = 400, height = 300, copies = 0;
    std::vector<uint32_t> gtkExtents, strut;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i], value = argv[i + 1];
        if (key == "--title") {
            title = value;
        } else if (key == "--class") {
            wmClass = value;
        } else if (key == "--size") {
            if (std::sscanf(value.c_str(), "%ux%u", &width, &height) != 2 || width == 0 || height == 0) {
                return usage();
            }
        } else if (key == "--gtk-extents") {
            if (!fourValues(value, &gtkExtents)) {
                return usage();
            }
        } else if (key == "--strut") {
            if (!fourValues(value, &strut)) {
                return usage();
            }
        } else if (key == "--companion") {
            companion = value;
        } else if (key == "--copies") {
            copies = static_cast<unsigned>(std::strtoul(value.c_str(), nullptr, 10));
        } else if (key == "--type") {
            windowType = "_NET_WM_WINDOW_TYPE_" + value;
        } else {
            return usage();
        }
    }
    if (argc % 2 == 0) {
        return usage();
    }

    int screenNumber = 0;
    TLXcbConnection connection(xcb_connect(nullptr, &screenNumber));
    xcb_connection_t* c = connection.get();
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "tl_test_client: cannot connect to the X server\n");
        return 1;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && it.rem; ++i) {
        xcb_screen_next(&it);
    }
    xcb_screen_t* screen = it.data;
    // One round trip for every atom; the window type is interned even when unused.
    const std::vector<xcb_atom_t> atoms =
        tlInternAtoms(c, {"_NET_WM_NAME", "UTF8_STRING", "_NET_WM_PID", "WM_PROTOCOLS", "WM_DELETE_WINDOW",
                          "_MOTIF_WM_HINTS", "_GTK_FRAME_EXTENTS", "_NET_WM_WINDOW_TYPE",
                          windowType.empty() ? "_NET_WM_WINDOW_TYPE_NORMAL" : windowType, "_NET_WM_STRUT"});
    const xcb_atom_t protocols = atoms[3], motifAtom = atoms[5];
    xcb_atom_t deleteWindow = atoms[4];

    auto open = [&](const std::string& name, bool typed) {
        xcb_window_t window = xcb_generate_id(c);
        uint32_t values[] = {screen->white_pixel, XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_EXPOSURE};
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, static_cast<uint16_t>(width),
                          static_cast<uint16_t>(height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);

        xcb_icccm_set_wm_name(c, window, XCB_ATOM_STRING, 8, static_cast<uint32_t>(name.size()), name.data());
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, atoms[0], atoms[1], 8,
                            static_cast<uint32_t>(name.size()), name.data());
        const std::string classValue = wmClass + '\0' + wmClass + '\0';
        xcb_icccm_set_wm_class(c, window, static_cast<uint32_t>(classValue.size()), classValue.data());
        uint32_t pid = static_cast<uint32_t>(getpid());
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, atoms[2], XCB_ATOM_CARDINAL, 32, 1, &pid);
        char host[256] = {};
        gethostname(host, sizeof host - 1);
        xcb_icccm_set_wm_client_machine(c, window, XCB_ATOM_STRING, 8,
                                        static_cast<uint32_t>(std::strlen(host)), host);

        xcb_size_hints_t size{};
        xcb_icccm_size_hints_set_min_size(&size, 20, 20);
        xcb_icccm_size_hints_set_size(&size, 1, static_cast<int32_t>(width), static_cast<int32_t>(height));
        xcb_icccm_size_hints_set_win_gravity(&size, XCB_GRAVITY_NORTH_WEST);
        xcb_icccm_set_wm_normal_hints(c, window, &size);
        xcb_icccm_wm_hints_t hints{};
        xcb_icccm_wm_hints_set_input(&hints, 1);
        xcb_icccm_wm_hints_set_normal(&hints);
        xcb_icccm_set_wm_hints(c, window, &hints);

        xcb_icccm_set_wm_protocols(c, window, protocols, 1, &deleteWindow);

        if (typed && !gtkExtents.empty()) {
            // _MOTIF_WM_HINTS: flags = decorations, decorations = none.
            uint32_t motif[5] = {2, 0, 0, 0, 0};
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, motifAtom, motifAtom, 32, 5, motif);
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, atoms[6], XCB_ATOM_CARDINAL, 32, 4,
                                gtkExtents.data());
        }
        if (typed && !windowType.empty()) {
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, atoms[7], XCB_ATOM_ATOM, 32, 1, &atoms[8]);
        }
        if (typed && !strut.empty()) {
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, atoms[9], XCB_ATOM_CARDINAL, 32, 4,
                                strut.data());
        }
        xcb_map_window(c, window);
    };
    open(title, true);
    if (!companion.empty()) {
        open(companion, false);
    }
    for (unsigned i = 1; i <= copies; ++i) {
        open(title + " " + std::to_string(i), false);
    }
    xcb_flush(c);

    while (TLXcbReply<xcb_generic_event_t> event{xcb_wait_for_event(c)}) {
        if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
            auto* message = reinterpret_cast<xcb_client_message_event_t*>(event.get());
            if (message->type == protocols && message->data.data32[0] == deleteWindow) {
                break;
            }
        }
    }
    return 0;
}
