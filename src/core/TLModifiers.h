#pragma once

#include <cstdint>

// Modifier sets are Carbon masks everywhere in Tilora: in the catalogue, in stored
// shortcuts and in hot-key registrations.
inline constexpr std::uint32_t TLCmdKey = 0x100;
inline constexpr std::uint32_t TLShiftKey = 0x200;
inline constexpr std::uint32_t TLAlphaLockKey = 0x400;
inline constexpr std::uint32_t TLOptionKey = 0x800;
inline constexpr std::uint32_t TLControlKey = 0x1000;
