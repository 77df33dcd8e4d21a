#include "TLStatusIcon.h"

#include <gtest/gtest.h>

using Panel = TLStatusIcon::Panel;

TEST(TLStatusIcon, ThreeRectanglesInTheInkWithAHaloAtEveryTraySize) {
    // Runs of pixels of exactly the ink colour along one row.
    const auto runs = [](const QImage& image, int y, QRgb ink) {
        int count = 0;
        for (int x = 0; x < image.width(); ++x) {
            count += image.pixel(x, y) == ink && (x == 0 || image.pixel(x - 1, y) != ink);
        }
        return count;
    };
    for (Panel panel : {Panel::Light, Panel::Dark}) {
        const bool dark = panel == Panel::Dark;
        const QRgb ink = TLStatusIcon::inkColor(panel).rgba();
        EXPECT_EQ(TLStatusIcon::inkColor(panel).lightness() > 128, dark);
        for (int size : {16, 22, 32, 64}) {
            const QImage image = TLStatusIcon::draw(size, panel);
            ASSERT_EQ(image.size(), QSize(size, size));
            EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << "corners stay transparent at " << size;
            int top = -1, bottom = -1, inked = 0, halo = 0;
            for (int y = 0; y < size; ++y) {
                top = top < 0 && runs(image, y, ink) ? y : top;
                bottom = runs(image, y, ink) ? y : bottom;
                for (int x = 0; x < size; ++x) {
                    const QColor c = QColor::fromRgba(image.pixel(x, y));
                    if (c.alpha() > 0) {
                        ++((c.lightness() > 128) == dark ? inked : halo);
                    }
                }
            }
            // Edges: three separate rectangles; across the middle two outlined ones and a filled one.
            EXPECT_EQ(runs(image, top, ink), 3) << size;
            EXPECT_EQ(runs(image, bottom, ink), 3) << size;
            EXPECT_EQ(runs(image, (top + bottom) / 2, ink), 5) << size;
            EXPECT_TRUE(inked > halo / 2 && halo > 0) << size;
        }
    }
    // Too small to draw: the glyph, which leaves ink.
    EXPECT_TRUE(TLStatusIcon::draw(4, Panel::Dark).isNull());
    const QImage glyph = TLStatusIcon::fallbackIcon(Panel::Dark).pixmap(32, 32).toImage();
    bool any = false;
    for (int i = 0; i < 32 * 32; ++i) {
        any = any || qAlpha(glyph.pixel(i % 32, i / 32)) > 0;
    }
    EXPECT_TRUE(any);
    EXPECT_EQ(TLStatusIcon::trayIcon(Panel::Light).availableSizes().size(),
              TLStatusIcon::icon(Panel::Light).availableSizes().size());
}
