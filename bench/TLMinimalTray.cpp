// The yardstick of the start-up benchmark: about the least a Qt tray program that grabs the
// same thirty combinations does. One icon of one size, a one-item menu, and the thirty default
// combinations grabbed on the root window of Qt's own X connection, with the Caps Lock and
// Num Lock (Mod2 on the test desktop) variants, all checked in one round trip.
#include "TLKeyTable.h"
#include "TLLayout.h"
#include "TLModifiers.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMenu>
#include <QPixmap>
#include <QSystemTrayIcon>

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

std::uint16_t xModifiers(std::uint32_t carbon) {
    std::uint16_t mask = 0;
    mask |= (carbon & TLShiftKey) != 0 ? XCB_MOD_MASK_SHIFT : 0;
    mask |= (carbon & TLControlKey) != 0 ? XCB_MOD_MASK_CONTROL : 0;
    mask |= (carbon & TLOptionKey) != 0 ? XCB_MOD_MASK_1 : 0;
    mask |= (carbon & TLCmdKey) != 0 ? XCB_MOD_MASK_4 : 0;
    return mask;
}

int grabDefaults() {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c) {
        return 0;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    std::vector<xcb_void_cookie_t> cookies;
    for (const TLLayout& layout : TLLayout::allLayouts()) {
        const std::optional<int> keycode = TLKeyTable::xKeycodeFromVirtualKeyCode(layout.defaultKeyCode());
        if (!keycode) {
            continue;
        }
        for (int lock :
             {0, int(XCB_MOD_MASK_LOCK), int(XCB_MOD_MASK_2), XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2}) {
            const auto modifiers = static_cast<std::uint16_t>(xModifiers(layout.defaultModifiers()) | lock);
            cookies.push_back(xcb_grab_key_checked(c, 0, root, modifiers,
                                                   static_cast<xcb_keycode_t>(*keycode), XCB_GRAB_MODE_ASYNC,
                                                   XCB_GRAB_MODE_ASYNC));
        }
    }
    int refused = 0;
    for (xcb_void_cookie_t cookie : cookies) {
        std::unique_ptr<xcb_generic_error_t, decltype(&std::free)> error(xcb_request_check(c, cookie),
                                                                         &std::free);
        refused += error ? 1 : 0;
    }
    return refused;
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QPixmap pixmap(22, 22);
    pixmap.fill(Qt::darkGray);
    QSystemTrayIcon tray{QIcon(pixmap)};
    QMenu menu;
    menu.addAction(QStringLiteral("Beenden"), &application, &QCoreApplication::quit);
    tray.setContextMenu(&menu);
    tray.show();
    if (const int refused = grabDefaults()) {
        std::fprintf(stderr, "bench_minimal_tray: %d grabs refused\n", refused);
    }
    return QApplication::exec();
}
