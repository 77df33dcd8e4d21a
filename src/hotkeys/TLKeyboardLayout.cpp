#include "TLKeyboardLayout.h"

namespace {
TLKeyboardLayout* installedLayout = nullptr;
} // namespace

void TLKeyboardLayout::install(TLKeyboardLayout* layout) {
    installedLayout = layout;
}

TLKeyboardLayout* TLKeyboardLayout::installed() {
    return installedLayout;
}
