#include "TLStatusIcon.h"
#include "support/TLQtTestApplication.h"

#include <gtest/gtest.h>

namespace {

using Panel = TLStatusIcon::Panel;

// Runs of pixels of exactly the ink colour along one row.
int inkRuns(const QImage& image, int y, QRgb ink) {
    int runs = 0;
    bool inside = false;
    for (int x = 0; x < image.width(); ++x) {
        const bool isInk = image.pixel(x, y) == ink;
        if (isInk && !inside) {
            ++runs;
        }
        inside = isInk;
    }
    return runs;
}

TEST(StatusIcon, ThreeSideBySideRectanglesAtEveryTraySize) {
    for (Panel panel : {Panel::Light, Panel::Dark}) {
        const QRgb ink = TLStatusIcon::inkColor(panel).rgba();
        for (int size : {16, 22, 24, 32, 64}) {
            const QImage image = TLStatusIcon::draw(size, panel);
            ASSERT_FALSE(image.isNull()) << size;
            ASSERT_EQ(image.size(), QSize(size, size));
            EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << "corners stay transparent at " << size;

            int top = -1;
            int bottom = -1;
            for (int y = 0; y < size; ++y) {
                if (inkRuns(image, y, ink) > 0) {
                    if (top < 0) {
                        top = y;
                    }
                    bottom = y;
                }
            }
            ASSERT_GE(top, 0) << size;
            // Top and bottom edges: three separate rectangles.
            EXPECT_EQ(inkRuns(image, top, ink), 3) << size;
            EXPECT_EQ(inkRuns(image, bottom, ink), 3) << size;
            // Across the middle: two outlined rectangles (two edges each) and a filled one.
            EXPECT_EQ(inkRuns(image, (top + bottom) / 2, ink), 5) << size;
        }
    }
}

TEST(StatusIcon, LightAndDarkPanelsGetOppositeShadesWithAHaloOfTheOther) {
    for (Panel panel : {Panel::Light, Panel::Dark}) {
        const bool darkPanel = panel == Panel::Dark;
        EXPECT_EQ(TLStatusIcon::inkColor(panel).lightness() > 128, darkPanel);
        // The ink: many pixels of one shade; the halo: some of the other, never none.
        const QImage image = TLStatusIcon::draw(22, panel);
        int ink = 0;
        int halo = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = QColor::fromRgba(image.pixel(x, y));
                if (c.alpha() > 0) {
                    ((c.lightness() > 128) == darkPanel ? ink : halo) += 1;
                }
            }
        }
        EXPECT_GT(ink, halo / 2);
        EXPECT_GT(halo, 0);
    }
}

TEST(StatusIcon, TooSmallToDrawFallsBackToTheGlyph) {
    EXPECT_TRUE(TLStatusIcon::draw(4, Panel::Dark).isNull());
    const QIcon fallback = TLStatusIcon::fallbackIcon(Panel::Dark);
    ASSERT_FALSE(fallback.isNull());
    // The glyph leaves ink on the image.
    const QImage glyph = fallback.pixmap(32, 32).toImage();
    bool inked = false;
    for (int y = 0; y < glyph.height() && !inked; ++y) {
        for (int x = 0; x < glyph.width() && !inked; ++x) {
            inked = qAlpha(glyph.pixel(x, y)) > 0;
        }
    }
    EXPECT_TRUE(inked);
    EXPECT_FALSE(TLStatusIcon::trayIcon(Panel::Light).isNull());
    EXPECT_EQ(TLStatusIcon::trayIcon(Panel::Light).availableSizes().size(),
              TLStatusIcon::icon(Panel::Light).availableSizes().size());
}

} // namespace
