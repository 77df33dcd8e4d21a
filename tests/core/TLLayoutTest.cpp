#include "TLLayout.h"

#include <gtest/gtest.h>

#include <future>
#include <set>
#include <utility>
#include <vector>

TEST(TLLayout, CatalogueIsOneSharedListAlsoUnderConcurrentFirstCalls) {
    std::vector<std::future<const std::vector<TLLayout>*>> calls;
    for (int i = 0; i < 8; ++i) {
        calls.push_back(std::async(std::launch::async, [] { return &TLLayout::allLayouts(); }));
    }
    const auto* first = calls.front().get();
    for (std::size_t i = 1; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].get(), first);
    }
    EXPECT_EQ(&TLLayout::allLayouts()[7], &(*first)[7]);
}

struct Row {
    const char* identifier;
    const char* group;
    const char* name;
    std::int64_t kind;
    TLFrac frac;
    std::int64_t keyCode;
    std::uint32_t modifiers;
};

TEST(TLLayout, EveryEntryMatchesTheTable) {
    const double t = 1.0 / 3.0;
    const double tt = 2.0 / 3.0;
    const std::uint32_t co = 0x1800;
    const std::uint32_t cos = 0x1A00;
    const Row rows[] = {
        {"third.left", "Drittel (Spalten)", "Linkes Drittel", 0, {0, 0, t, 1}, 18, co},
        {"third.center", "Drittel (Spalten)", "Mittleres Drittel", 0, {t, 0, t, 1}, 19, co},
        {"third.right", "Drittel (Spalten)", "Rechtes Drittel", 0, {tt, 0, t, 1}, 20, co},
        {"ninth.l.top", "Neuntel (Spalte × Zeile)", "Links · oben", 0, {0, 0, t, t}, 12, co},
        {"ninth.l.mid", "Neuntel (Spalte × Zeile)", "Links · Mitte", 0, {0, t, t, t}, 0, co},
        {"ninth.l.bot", "Neuntel (Spalte × Zeile)", "Links · unten", 0, {0, tt, t, t}, 6, co},
        {"ninth.c.top", "Neuntel (Spalte × Zeile)", "Mitte · oben", 0, {t, 0, t, t}, 13, co},
        {"ninth.c.mid", "Neuntel (Spalte × Zeile)", "Mitte · Mitte", 0, {t, t, t, t}, 1, co},
        {"ninth.c.bot", "Neuntel (Spalte × Zeile)", "Mitte · unten", 0, {t, tt, t, t}, 7, co},
        {"ninth.r.top", "Neuntel (Spalte × Zeile)", "Rechts · oben", 0, {tt, 0, t, t}, 14, co},
        {"ninth.r.mid", "Neuntel (Spalte × Zeile)", "Rechts · Mitte", 0, {tt, t, t, t}, 2, co},
        {"ninth.r.bot", "Neuntel (Spalte × Zeile)", "Rechts · unten", 0, {tt, tt, t, t}, 8, co},
        {"quarter.tl", "Viertel", "Viertel oben links", 0, {0, 0, 0.5, 0.5}, 15, co},
        {"quarter.tr", "Viertel", "Viertel oben rechts", 0, {0.5, 0, 0.5, 0.5}, 17, co},
        {"quarter.bl", "Viertel", "Viertel unten links", 0, {0, 0.5, 0.5, 0.5}, 3, co},
        {"quarter.br", "Viertel", "Viertel unten rechts", 0, {0.5, 0.5, 0.5, 0.5}, 5, co},
        {"quartercol.1", "Viertel", "Spalte 1 von 4", 0, {0, 0, 0.25, 1}, 21, co},
        {"quartercol.2", "Viertel", "Spalte 2 von 4", 0, {0.25, 0, 0.25, 1}, 23, co},
        {"quartercol.3", "Viertel", "Spalte 3 von 4", 0, {0.5, 0, 0.25, 1}, 22, co},
        {"quartercol.4", "Viertel", "Spalte 4 von 4", 0, {0.75, 0, 0.25, 1}, 26, co},
        {"half.left", "Hälften", "Linke Hälfte", 0, {0, 0, 0.5, 1}, 123, co},
        {"half.right", "Hälften", "Rechte Hälfte", 0, {0.5, 0, 0.5, 1}, 124, co},
        {"half.top", "Hälften", "Obere Hälfte", 0, {0, 0, 1, 0.5}, 126, co},
        {"half.bottom", "Hälften", "Untere Hälfte", 0, {0, 0.5, 1, 0.5}, 125, co},
        {"twothirds.left", "Hälften", "Linke zwei Drittel", 0, {0, 0, tt, 1}, 28, co},
        {"twothirds.right", "Hälften", "Rechte zwei Drittel", 0, {t, 0, tt, 1}, 25, co},
        {"screen.full", "Bildschirm", "Bildschirm ausfüllen", 0, {0, 0, 1, 1}, 36, co},
        {"screen.center", "Bildschirm", "Zentrieren (⅔ Breite)", 0, {1.0 / 6.0, 0.05, tt, 0.9}, 29, co},
        {"screen.next", "Bildschirm", "Auf nächsten Bildschirm", 1, {0, 0, 1, 1}, 124, cos},
        {"screen.prev", "Bildschirm", "Auf vorigen Bildschirm", 2, {0, 0, 1, 1}, 123, cos},
    };
    const auto& all = TLLayout::allLayouts();
    ASSERT_EQ(std::size(rows), all.size());
    for (std::size_t i = 0; i < all.size(); ++i) {
        SCOPED_TRACE(rows[i].identifier);
        const TLLayout& l = all[i];
        EXPECT_EQ(l.identifier(), rows[i].identifier);
        EXPECT_EQ(l.group(), rows[i].group);
        EXPECT_EQ(l.name(), rows[i].name);
        EXPECT_EQ(l.kind(), rows[i].kind);
        // Exact doubles: the fractions are the ones double division yields.
        const TLFrac& f = l.frac();
        EXPECT_TRUE(f.x == rows[i].frac.x && f.y == rows[i].frac.y && f.w == rows[i].frac.w &&
                    f.h == rows[i].frac.h);
        EXPECT_EQ(l.defaultKeyCode(), rows[i].keyCode);
        EXPECT_EQ(l.defaultModifiers(), rows[i].modifiers);
        EXPECT_EQ(TLLayout::indexOf(l), i);
    }
}

// Properties other parts rely on beyond the single rows: no two defaults collide, and every
// fractional target fits the unit square.
TEST(TLLayout, IdentifiersAndDefaultCombinationsAreUniqueAndFractionsFit) {
    std::set<std::string> identifiers;
    std::set<std::pair<std::int64_t, std::uint32_t>> combinations;
    for (const TLLayout& l : TLLayout::allLayouts()) {
        EXPECT_TRUE(identifiers.insert(l.identifier()).second) << l.identifier();
        EXPECT_TRUE(combinations.insert({l.defaultKeyCode(), l.defaultModifiers()}).second) << l.identifier();
        if (l.kind() == TLLayoutKindFrac) {
            EXPECT_LE(l.frac().x + l.frac().w, 1.0) << l.identifier();
            EXPECT_LE(l.frac().y + l.frac().h, 1.0) << l.identifier();
        }
    }
}

TEST(TLLayout, LookupIsExactAndCaseSensitive) {
    const TLLayout* found = TLLayout::layoutWithIdentifier("ninth.c.mid");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found, &TLLayout::allLayouts()[7]);
    for (const char* miss : {"Third.Left", "THIRD.LEFT", "third.left ", " third.left", "", "third", "nope"}) {
        EXPECT_EQ(TLLayout::layoutWithIdentifier(miss), nullptr) << '"' << miss << '"';
    }
    // A look-alike that is not a catalogue entry has no index (hot-key id).
    const TLLayout stranger("third.left", "g", "n", 0, {0, 0, 1, 1}, 18, 0x1800);
    EXPECT_FALSE(TLLayout::indexOf(stranger).has_value());
}
