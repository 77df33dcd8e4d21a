#include "TLGeometry.h"

#include <ostream>

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

void PrintTo(const TLDisplay& display, std::ostream* os) {
    *os << "frame ";
    PrintTo(display.frame, os);
    *os << ", visible ";
    PrintTo(display.visibleFrame, os);
}
