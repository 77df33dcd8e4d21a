#pragma once

#include <cstdint>
#include <iosfwd>

// Plain geometry values in points. Which coordinate system a value is in is said where it is used.
struct TLPoint {
    double x = 0;
    double y = 0;
    bool operator==(const TLPoint&) const = default;
};

struct TLSize {
    double width = 0;
    double height = 0;
};

struct TLRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    double minX() const { return x; }
    double maxX() const { return x + width; }
    double minY() const { return y; }
    double maxY() const { return y + height; }
    bool operator==(const TLRect&) const = default;
};

// Whole-number results of a placement.
struct TLIntPoint {
    std::int64_t x = 0;
    std::int64_t y = 0;
    bool operator==(const TLIntPoint&) const = default;
};

struct TLIntSize {
    std::int64_t width = 0;
    std::int64_t height = 0;
    bool operator==(const TLIntSize&) const = default;
};

// A rectangle of whole pixels in a window system's own coordinates (origin top-left, y down).
struct TLIntRect {
    std::int64_t x = 0;
    std::int64_t y = 0;
    std::int64_t width = 0;
    std::int64_t height = 0;

    std::int64_t maxX() const { return x + width; }
    std::int64_t maxY() const { return y + height; }
    bool isEmpty() const { return width <= 0 || height <= 0; }
    TLIntRect intersected(const TLIntRect& other) const;
    bool operator==(const TLIntRect&) const = default;
};

// A display in global coordinates (origin bottom-left of the primary display, y up).
struct TLDisplay {
    TLRect frame;
    TLRect visibleFrame;
    bool operator==(const TLDisplay&) const = default;
};

// How test failures print them (GoogleTest's PrintTo), as "{x, y, width, height}" and the like.
void PrintTo(const TLPoint& point, std::ostream* os);
void PrintTo(const TLSize& size, std::ostream* os);
void PrintTo(const TLRect& rect, std::ostream* os);
void PrintTo(const TLIntPoint& point, std::ostream* os);
void PrintTo(const TLIntSize& size, std::ostream* os);
void PrintTo(const TLIntRect& rect, std::ostream* os);
void PrintTo(const TLDisplay& display, std::ostream* os);
