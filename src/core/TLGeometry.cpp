#include "TLGeometry.h"

#include <algorithm>
#include <ostream>

TLIntRect TLIntRect::intersected(const TLIntRect& other) const {
    const std::int64_t left = std::max(x, other.x);
    const std::int64_t top = std::max(y, other.y);
    const std::int64_t right = std::min(maxX(), other.maxX());
    const std::int64_t bottom = std::min(maxY(), other.maxY());
    if (right <= left || bottom <= top) {
        return {};
    }
    return {left, top, right - left, bottom - top};
}

void PrintTo(const TLPoint& point, std::ostream* os) {
    *os << '{' << point.x << ", " << point.y << '}';
}

void PrintTo(const TLSize& size, std::ostream* os) {
    *os << '{' << size.width << " x " << size.height << '}';
}

void PrintTo(const TLRect& rect, std::ostream* os) {
    *os << '{' << rect.x << ", " << rect.y << ", " << rect.width << " x " << rect.height << '}';
}

void PrintTo(const TLIntPoint& point, std::ostream* os) {
    *os << '{' << point.x << ", " << point.y << '}';
}

void PrintTo(const TLIntSize& size, std::ostream* os) {
    *os << '{' << size.width << " x " << size.height << '}';
}

void PrintTo(const TLIntRect& rect, std::ostream* os) {
    *os << '{' << rect.x << ", " << rect.y << ", " << rect.width << " x " << rect.height << '}';
}

void PrintTo(const TLDisplay& display, std::ostream* os) {
    *os << "frame ";
    PrintTo(display.frame, os);
    *os << ", visible ";
    PrintTo(display.visibleFrame, os);
}
