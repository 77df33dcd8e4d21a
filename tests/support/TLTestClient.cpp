// tl_test_client: a plain xcb window for the tests' desktop.
//
//   tl_test_client --title T --class C --size WxH [--gtk-extents L,R,T,B] [--type NAME]
//                  [--strut L,R,T,B] [--companion TITLE] [--copies N]
//
// The window has WM_NAME/_NET_WM_NAME, WM_CLASS, _NET_WM_PID, a small minimum size and no size
// increments, takes the focus and ends on WM_DELETE_WINDOW or SIGTERM. --gtk-extents makes it a
// client-side-decorated window (no frame from the window manager, an invisible shadow margin),
// --type sets _NET_WM_WINDOW_TYPE_<NAME>, --strut a panel's _NET_WM_STRUT. --companion opens a
// second plain window of the same process, --copies N more titled "T 1" to "T N".
#include "TLXcb.h"

#include <xcb/xcb_icccm.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

int main(int argc, char** argv) {
    std::map<std::string, std::string> o{
        {"--title", "tl_test_client"}, {"--class", "tl_test_client"}, {"--size", "400x300"}};
    for (int i = 1; i + 1 < argc; i += 2) {
        o[argv[i]] = argv[i + 1];
    }
    unsigned width = 0, height = 0;
    uint32_t gtk[4] = {}, strut[4] = {};
    const bool csd = o.count("--gtk-extents") && std::sscanf(o["--gtk-extents"].c_str(), "%u,%u,%u,%u",
                                                             &gtk[0], &gtk[1], &gtk[2], &gtk[3]) == 4;
    const bool panel = o.count("--strut") && std::sscanf(o["--strut"].c_str(), "%u,%u,%u,%u", &strut[0],
                                                         &strut[1], &strut[2], &strut[3]) == 4;
    if (argc % 2 == 0 || std::sscanf(o["--size"].c_str(), "%ux%u", &width, &height) != 2) {
        std::fprintf(stderr, "usage: tl_test_client --title T --class C --size WxH [options]\n");
        return 2;
    }
    TLXcbConnection connection(xcb_connect(nullptr, nullptr));
    xcb_connection_t* c = connection.get();
    if (xcb_connection_has_error(c)) {
        return 1;
    }
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const std::string type =
        "_NET_WM_WINDOW_TYPE_" + (o.count("--type") ? o["--type"] : std::string("NORMAL"));
    auto a = tlInternAtoms(c, {"_NET_WM_NAME", "UTF8_STRING", "_NET_WM_PID", "WM_PROTOCOLS",
                               "WM_DELETE_WINDOW", "_MOTIF_WM_HINTS", "_GTK_FRAME_EXTENTS",
                               "_NET_WM_WINDOW_TYPE", type, "_NET_WM_STRUT"});
    const std::string wmClass = o["--class"] + '\0' + o["--class"] + '\0';
    const uint32_t pid = uint32_t(getpid());

    auto open = [&](const std::string& title, bool first) {
        const xcb_window_t w = xcb_generate_id(c);
        const uint32_t values[] = {screen->white_pixel, XCB_EVENT_MASK_STRUCTURE_NOTIFY};
        xcb_create_window(c, XCB_COPY_FROM_PARENT, w, screen->root, 0, 0, uint16_t(width), uint16_t(height),
                          0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                          XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
        xcb_icccm_set_wm_name(c, w, XCB_ATOM_STRING, 8, uint32_t(title.size()), title.data());
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, a[0], a[1], 8, uint32_t(title.size()), title.data());
        xcb_icccm_set_wm_class(c, w, uint32_t(wmClass.size()), wmClass.data());
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, a[2], XCB_ATOM_CARDINAL, 32, 1, &pid);
        xcb_size_hints_t size{};
        xcb_icccm_size_hints_set_min_size(&size, 20, 20);
        xcb_icccm_size_hints_set_size(&size, 1, int32_t(width), int32_t(height));
        xcb_icccm_set_wm_normal_hints(c, w, &size);
        xcb_icccm_wm_hints_t hints{};
        xcb_icccm_wm_hints_set_input(&hints, 1);
        xcb_icccm_set_wm_hints(c, w, &hints);
        xcb_icccm_set_wm_protocols(c, w, a[3], 1, &a[4]);
        if (first && csd) {
            const uint32_t noDecorations[5] = {2, 0, 0, 0, 0};
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, a[5], a[5], 32, 5, noDecorations);
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, a[6], XCB_ATOM_CARDINAL, 32, 4, gtk);
        }
        if (first) {
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, a[7], XCB_ATOM_ATOM, 32, 1, &a[8]);
        }
        if (first && panel) {
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, a[9], XCB_ATOM_CARDINAL, 32, 4, strut);
        }
        xcb_map_window(c, w);
    };
    open(o["--title"], true);
    if (o.count("--companion")) {
        open(o["--companion"], false);
    }
    for (int i = 1; i <= std::atoi(o["--copies"].c_str()); ++i) {
        open(o["--title"] + " " + std::to_string(i), false);
    }
    xcb_flush(c);
    while (TLXcbReply<xcb_generic_event_t> event{xcb_wait_for_event(c)}) {
        const auto* m = reinterpret_cast<const xcb_client_message_event_t*>(event.get());
        if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE && m->type == a[3] &&
            m->data.data32[0] == a[4]) {
            break;
        }
    }
    return 0;
}
