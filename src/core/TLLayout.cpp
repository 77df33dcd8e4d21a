#include "TLLayout.h"

#include "TLModifiers.h"

#include <functional>
#include <utility>

TLLayout::TLLayout(std::string identifier, std::string group, std::string name, std::int64_t kind,
                   TLFrac frac, std::int64_t defaultKeyCode, std::uint32_t defaultModifiers)
    : identifier_(std::move(identifier)), group_(std::move(group)), name_(std::move(name)), kind_(kind),
      frac_(frac), defaultKeyCode_(defaultKeyCode), defaultModifiers_(defaultModifiers) {}

namespace {

constexpr double kThird = 1.0 / 3.0;
constexpr double kTwoThirds = 2.0 / 3.0;
constexpr double kSixth = 1.0 / 6.0;
constexpr std::uint32_t kCtrlOpt = TLControlKey | TLOptionKey;
constexpr std::uint32_t kCtrlOptShift = TLControlKey | TLOptionKey | TLShiftKey;

std::vector<TLLayout> buildCatalogue() {
    const std::string thirds = "Drittel (Spalten)";
    const std::string ninths = "Neuntel (Spalte × Zeile)";
    const std::string quarters = "Viertel";
    const std::string halves = "Hälften";
    const std::string screen = "Bildschirm";

    std::vector<TLLayout> all;
    all.reserve(30);
    auto add = [&all](const char* identifier, const std::string& group, const char* name, std::int64_t kind,
                      TLFrac frac, std::int64_t keyCode, std::uint32_t modifiers) {
        all.emplace_back(identifier, group, name, kind, frac, keyCode, modifiers);
    };

    add("third.left", thirds, "Linkes Drittel", TLLayoutKindFrac, {0, 0, kThird, 1}, 18, kCtrlOpt);
    add("third.center", thirds, "Mittleres Drittel", TLLayoutKindFrac, {kThird, 0, kThird, 1}, 19, kCtrlOpt);
    add("third.right", thirds, "Rechtes Drittel", TLLayoutKindFrac, {kTwoThirds, 0, kThird, 1}, 20, kCtrlOpt);

    add("ninth.l.top", ninths, "Links · oben", TLLayoutKindFrac, {0, 0, kThird, kThird}, 12, kCtrlOpt);
    add("ninth.l.mid", ninths, "Links · Mitte", TLLayoutKindFrac, {0, kThird, kThird, kThird}, 0, kCtrlOpt);
    add("ninth.l.bot", ninths, "Links · unten", TLLayoutKindFrac, {0, kTwoThirds, kThird, kThird}, 6,
        kCtrlOpt);
    add("ninth.c.top", ninths, "Mitte · oben", TLLayoutKindFrac, {kThird, 0, kThird, kThird}, 13, kCtrlOpt);
    add("ninth.c.mid", ninths, "Mitte · Mitte", TLLayoutKindFrac, {kThird, kThird, kThird, kThird}, 1,
        kCtrlOpt);
    add("ninth.c.bot", ninths, "Mitte · unten", TLLayoutKindFrac, {kThird, kTwoThirds, kThird, kThird}, 7,
        kCtrlOpt);
    add("ninth.r.top", ninths, "Rechts · oben", TLLayoutKindFrac, {kTwoThirds, 0, kThird, kThird}, 14,
        kCtrlOpt);
    add("ninth.r.mid", ninths, "Rechts · Mitte", TLLayoutKindFrac, {kTwoThirds, kThird, kThird, kThird}, 2,
        kCtrlOpt);
    add("ninth.r.bot", ninths, "Rechts · unten", TLLayoutKindFrac, {kTwoThirds, kTwoThirds, kThird, kThird},
        8, kCtrlOpt);

    add("quarter.tl", quarters, "Viertel oben links", TLLayoutKindFrac, {0, 0, 0.5, 0.5}, 15, kCtrlOpt);
    add("quarter.tr", quarters, "Viertel oben rechts", TLLayoutKindFrac, {0.5, 0, 0.5, 0.5}, 17, kCtrlOpt);
    add("quarter.bl", quarters, "Viertel unten links", TLLayoutKindFrac, {0, 0.5, 0.5, 0.5}, 3, kCtrlOpt);
    add("quarter.br", quarters, "Viertel unten rechts", TLLayoutKindFrac, {0.5, 0.5, 0.5, 0.5}, 5, kCtrlOpt);
    add("quartercol.1", quarters, "Spalte 1 von 4", TLLayoutKindFrac, {0, 0, 0.25, 1}, 21, kCtrlOpt);
    add("quartercol.2", quarters, "Spalte 2 von 4", TLLayoutKindFrac, {0.25, 0, 0.25, 1}, 23, kCtrlOpt);
    add("quartercol.3", quarters, "Spalte 3 von 4", TLLayoutKindFrac, {0.5, 0, 0.25, 1}, 22, kCtrlOpt);
    add("quartercol.4", quarters, "Spalte 4 von 4", TLLayoutKindFrac, {0.75, 0, 0.25, 1}, 26, kCtrlOpt);

    add("half.left", halves, "Linke Hälfte", TLLayoutKindFrac, {0, 0, 0.5, 1}, 123, kCtrlOpt);
    add("half.right", halves, "Rechte Hälfte", TLLayoutKindFrac, {0.5, 0, 0.5, 1}, 124, kCtrlOpt);
    add("half.top", halves, "Obere Hälfte", TLLayoutKindFrac, {0, 0, 1, 0.5}, 126, kCtrlOpt);
    add("half.bottom", halves, "Untere Hälfte", TLLayoutKindFrac, {0, 0.5, 1, 0.5}, 125, kCtrlOpt);
    add("twothirds.left", halves, "Linke zwei Drittel", TLLayoutKindFrac, {0, 0, kTwoThirds, 1}, 28,
        kCtrlOpt);
    add("twothirds.right", halves, "Rechte zwei Drittel", TLLayoutKindFrac, {kThird, 0, kTwoThirds, 1}, 25,
        kCtrlOpt);

    add("screen.full", screen, "Bildschirm ausfüllen", TLLayoutKindFrac, {0, 0, 1, 1}, 36, kCtrlOpt);
    add("screen.center", screen, "Zentrieren (⅔ Breite)", TLLayoutKindFrac, {kSixth, 0.05, kTwoThirds, 0.9},
        29, kCtrlOpt);
    add("screen.next", screen, "Auf nächsten Bildschirm", TLLayoutKindScreenNext, {0, 0, 1, 1}, 124,
        kCtrlOptShift);
    add("screen.prev", screen, "Auf vorigen Bildschirm", TLLayoutKindScreenPrev, {0, 0, 1, 1}, 123,
        kCtrlOptShift);
    return all;
}

} // namespace

const std::vector<TLLayout>& TLLayout::allLayouts() {
    // A function-local static is initialised exactly once, also under concurrent first calls.
    static const std::vector<TLLayout> catalogue = buildCatalogue();
    return catalogue;
}

const TLLayout* TLLayout::layoutWithIdentifier(std::string_view identifier) {
    for (const TLLayout& layout : allLayouts()) {
        if (layout.identifier() == identifier) {
            return &layout;
        }
    }
    return nullptr;
}

std::optional<std::size_t> TLLayout::indexOf(const TLLayout& layout) {
    const std::vector<TLLayout>& all = allLayouts();
    // std::less gives a total order even for pointers into different objects.
    const std::less<const TLLayout*> before;
    if (all.empty() || before(&layout, all.data()) || !before(&layout, all.data() + all.size())) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(&layout - all.data());
}
