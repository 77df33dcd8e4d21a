#include "TLLayout.h"
#include "TLTest.h"

// The entries themselves are checked where they are used: placement examples, default hot keys.
TEST(TLLayout, OneSharedCatalogueOfUniqueEntriesThatFit) {
    const std::vector<TLLayout>* all = &TLLayout::allLayouts();
    ASSERT_EQ(all->size(), 30u);
    std::set<std::string> identifiers;
    std::set<std::pair<std::int64_t, std::uint32_t>> combinations;
    for (std::size_t i = 0; i < all->size(); ++i) {
        const TLLayout& l = (*all)[i];
        EXPECT_TRUE(identifiers.insert(l.identifier()).second) << l.identifier();
        EXPECT_TRUE(combinations.insert({l.defaultKeyCode(), l.defaultModifiers()}).second) << l.identifier();
        EXPECT_LE(l.frac().x + l.frac().w, 1.0) << l.identifier();
        EXPECT_LE(l.frac().y + l.frac().h, 1.0) << l.identifier();
        EXPECT_EQ(TLLayout::layoutWithIdentifier(l.identifier()), &l);
        EXPECT_EQ(TLLayout::indexOf(l), i);
    }
    EXPECT_EQ((*all)[28].kind(), TLLayoutKindScreenNext);
    EXPECT_EQ((*all)[29].kind(), TLLayoutKindScreenPrev);
    for (const char* miss : {"Third.Left", "third.left ", "", "third"}) {
        EXPECT_EQ(TLLayout::layoutWithIdentifier(miss), nullptr) << '"' << miss << '"';
    }
    // A look-alike that is no catalogue entry has no index (hot-key id).
    EXPECT_FALSE(TLLayout::indexOf(TLLayout("third.left", "g", "n", 0, {0, 0, 1, 1}, 18, 0x1800)));
}
