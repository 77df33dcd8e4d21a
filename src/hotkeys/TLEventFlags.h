#pragma once

#include <Qt>

#include <cstdint>

// Modifier flags as key events carry them, independent of the windowing system. The values
// are those the stored shortcuts and their conversions were defined with.
class TLEventFlags {
public:
    static constexpr std::uint64_t CapsLock = 0x10000;
    static constexpr std::uint64_t Shift = 0x20000;
    static constexpr std::uint64_t Control = 0x40000;
    static constexpr std::uint64_t Option = 0x80000;
    static constexpr std::uint64_t Command = 0x100000;

    // Control ↔ Ctrl, Option ↔ Alt, Shift ↔ Shift, Command ↔ Meta (the Super key on X11).
    static std::uint64_t fromQt(Qt::KeyboardModifiers modifiers);
};
