#include "TLStatusIcon.h"

#include <gtest/gtest.h>

TEST(TLStatusIcon, ThreeRectanglesInTheInkOfEachPanelAndAGlyphWhenTooSmall) {
    for (const auto panel : {TLStatusIcon::Panel::Light, TLStatusIcon::Panel::Dark}) {
        EXPECT_EQ(TLStatusIcon::inkColor(panel).lightness() > 128, panel == TLStatusIcon::Panel::Dark);
        for (int size : {16, 22, 64}) {
            const QImage image = TLStatusIcon::draw(size, panel);
            ASSERT_EQ(image.size(), QSize(size, size));
            EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << "corners stay transparent";
            // Across the middle: two outlined rectangles (two edges each) and a filled one.
            int runs = 0;
            for (int x = 0; x < size; ++x) {
                const auto ink = [&](int at) {
                    return image.pixel(at, size / 2) == TLStatusIcon::inkColor(panel).rgba();
                };
                runs += ink(x) && (x == 0 || !ink(x - 1));
            }
            EXPECT_EQ(runs, 5) << size;
        }
    }
    EXPECT_TRUE(TLStatusIcon::draw(4, TLStatusIcon::Panel::Dark).isNull());
    EXPECT_FALSE(TLStatusIcon::fallbackIcon(TLStatusIcon::Panel::Dark).pixmap(32, 32).toImage().isNull());
}
