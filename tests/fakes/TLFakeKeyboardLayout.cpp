#include "TLFakeKeyboardLayout.h"

namespace {

// The unmodified text of the writing keys of a US keyboard, by virtual key code.
const std::map<std::int64_t, QString>& usKeys() {
    static const std::map<std::int64_t, QString> keys = {
        {0, "a"},   {1, "s"},  {2, "d"},  {3, "f"},  {4, "h"},  {5, "g"},  {6, "z"},  {7, "x"},
        {8, "c"},   {9, "v"},  {11, "b"}, {12, "q"}, {13, "w"}, {14, "e"}, {15, "r"}, {16, "y"},
        {17, "t"},  {18, "1"}, {19, "2"}, {20, "3"}, {21, "4"}, {22, "6"}, {23, "5"}, {24, "="},
        {25, "9"},  {26, "7"}, {27, "-"}, {28, "8"}, {29, "0"}, {30, "]"}, {31, "o"}, {32, "u"},
        {33, "["},  {34, "i"}, {35, "p"}, {37, "l"}, {38, "j"}, {39, "'"}, {40, "k"}, {41, ";"},
        {42, "\\"}, {43, ","}, {44, "/"}, {45, "n"}, {46, "m"}, {47, "."}, {50, "`"},
    };
    return keys;
}

} // namespace

TLFakeKeyboardLayout::TLFakeKeyboardLayout(Arrangement arrangement) {
    switchTo(arrangement);
}

QString TLFakeKeyboardLayout::characterForKeyCode(std::int64_t virtualKeyCode) const {
    ++callCount;
    lastKeyCode = virtualKeyCode;
    const auto it = keys_.find(virtualKeyCode);
    return it != keys_.end() ? it->second : QString();
}

void TLFakeKeyboardLayout::switchTo(Arrangement arrangement) {
    keys_ = usKeys();
    if (arrangement == Arrangement::German) {
        keys_[6] = QStringLiteral("y");
        keys_[16] = QStringLiteral("z");
        keys_[27] = QStringLiteral("ß");
        keys_[33] = QStringLiteral("ü");
    }
}
