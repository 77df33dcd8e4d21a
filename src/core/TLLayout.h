#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A target rectangle as fractions of a display's visible frame, measured from its top-left corner.
struct TLFrac {
    double x = 0;
    double y = 0;
    double w = 0;
    double h = 0;
};

enum TLLayoutKind : std::int64_t {
    TLLayoutKindFrac = 0,
    TLLayoutKindScreenNext = 1,
    TLLayoutKindScreenPrev = 2,
};

// One of the thirty fixed layouts. Entries live in one immutable catalogue for the whole
// process, so a `const TLLayout&` may be kept (by a menu item, a queued hot-key press) and
// compared by address.
class TLLayout {
public:
    TLLayout(std::string identifier, std::string group, std::string name, std::int64_t kind, TLFrac frac,
             std::int64_t defaultKeyCode, std::uint32_t defaultModifiers);

    TLLayout(const TLLayout&) = delete;
    TLLayout& operator=(const TLLayout&) = delete;
    TLLayout(TLLayout&&) = default;

    const std::string& identifier() const { return identifier_; }
    const std::string& group() const { return group_; }
    const std::string& name() const { return name_; }
    std::int64_t kind() const { return kind_; }
    const TLFrac& frac() const { return frac_; }
    std::int64_t defaultKeyCode() const { return defaultKeyCode_; }
    std::uint32_t defaultModifiers() const { return defaultModifiers_; }

    // The catalogue in its fixed order; built once, thread-safely, on first use.
    static const std::vector<TLLayout>& allLayouts();
    // Exact, case-sensitive match; nullptr when no entry has that identifier.
    static const TLLayout* layoutWithIdentifier(std::string_view identifier);
    // Position of a catalogue entry in allLayouts(): its hot-key id. Absent for objects
    // that are not catalogue entries.
    static std::optional<std::size_t> indexOf(const TLLayout& layout);

private:
    std::string identifier_;
    std::string group_;
    std::string name_;
    std::int64_t kind_;
    TLFrac frac_;
    std::int64_t defaultKeyCode_;
    std::uint32_t defaultModifiers_;
};
