#include "TLEventFlags.h"

std::uint64_t TLEventFlags::fromQt(Qt::KeyboardModifiers modifiers) {
    std::uint64_t flags = 0;
    if (modifiers.testFlag(Qt::ShiftModifier)) {
        flags |= Shift;
    }
    if (modifiers.testFlag(Qt::ControlModifier)) {
        flags |= Control;
    }
    if (modifiers.testFlag(Qt::AltModifier)) {
        flags |= Option;
    }
    if (modifiers.testFlag(Qt::MetaModifier)) {
        flags |= Command;
    }
    return flags;
}
