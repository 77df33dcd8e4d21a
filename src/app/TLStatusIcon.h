#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QString>

// Tilora's tray symbol: three side-by-side rectangles, a window split into thirds. It is drawn
// in one colour like a template image, light on dark panels and dark on light ones, with a faint
// halo in the other shade. A tray does not tell its colour; the application uses the variant
// for dark panels, the common case, and the halo keeps it visible on light ones.
class TLStatusIcon {
public:
    enum class Panel { Light, Dark };

    // The text shown in place of the symbol when it cannot be drawn.
    static constexpr const char16_t* kFallbackTitle = u"⊞";

    // The symbol at every size a tray asks for; a null icon when it cannot be drawn.
    static QIcon icon(Panel panel);
    // The fallback: the title glyph drawn as an icon.
    static QIcon fallbackIcon(Panel panel);
    // The symbol, or the fallback when the symbol cannot be drawn.
    static QIcon trayIcon(Panel panel);

    // One rendering of the symbol, transparent around the strokes.
    static QImage draw(int size, Panel panel);

    static QColor inkColor(Panel panel);

    // The application's icon: the symbol, light, on a rounded blue tile.
    static QImage drawApplicationIcon(int size);
    static QIcon applicationIcon();
};
