#include "TLVersion.h"

#include <cstddef>

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The digit run starting at `pos`; advances pos past it.
std::string_view digitRun(std::string_view s, std::size_t& pos) {
    const std::size_t start = pos;
    while (pos < s.size() && isDigit(s[pos])) {
        ++pos;
    }
    return s.substr(start, pos - start);
}

// Runs of any length compare by value: without leading zeros, the longer run is larger,
// equal lengths compare digit by digit.
std::weak_ordering compareRuns(std::string_view a, std::string_view b) {
    while (a.size() > 1 && a.front() == '0') {
        a.remove_prefix(1);
    }
    while (b.size() > 1 && b.front() == '0') {
        b.remove_prefix(1);
    }
    if (a.size() != b.size()) {
        return a.size() < b.size() ? std::weak_ordering::less : std::weak_ordering::greater;
    }
    const int c = a.compare(b);
    return c < 0   ? std::weak_ordering::less
           : c > 0 ? std::weak_ordering::greater
                   : std::weak_ordering::equivalent;
}

} // namespace

std::weak_ordering TLVersion::compare(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            const auto order = compareRuns(digitRun(a, i), digitRun(b, j));
            if (order != 0) {
                return order;
            }
            continue;
        }
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[j]);
        if (ca != cb) {
            return ca < cb ? std::weak_ordering::less : std::weak_ordering::greater;
        }
        ++i;
        ++j;
    }
    const bool aLeft = i < a.size();
    const bool bLeft = j < b.size();
    if (aLeft == bLeft) {
        return std::weak_ordering::equivalent;
    }
    return aLeft ? std::weak_ordering::greater : std::weak_ordering::less;
}
