#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QString>

// Tilora's tray symbol: three side-by-side rectangles, a window split into thirds. It is drawn
// in one colour like a template image, light on dark panels and dark on light ones, with a faint
// halo in the other shade. A tray does not tell its colour; the application uses the variant
// for dark panels, the common case, and the halo keeps it visible on light ones.
//
// The icons draw each size when it is first asked for: a tray wants one size, and drawing every
// size a window might want would only slow the start down.
class TLStatusIcon {
public:
    enum class Panel { Light, Dark };

    // The text shown in place of the symbol when it cannot be drawn.
    static constexpr const char16_t* kFallbackTitle = u"⊞";

    // The symbol at any size; where it cannot be drawn (below 8 pixels, no memory), the title
    // glyph in its place.
    static QIcon trayIcon(Panel panel);

    // One rendering of the symbol, transparent around the strokes.
    static QImage draw(int size, Panel panel);

    static QColor inkColor(Panel panel);

    // The application's icon: the symbol, light, on a rounded blue tile.
    static QImage drawApplicationIcon(int size);
    static QIcon applicationIcon();
};
