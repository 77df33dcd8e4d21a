#pragma once

// xcb's XKB header names a struct member `explicit`, a C++ keyword: every user of the header
// includes it through this one.
#define explicit xkb_explicit
#include <xcb/xkb.h>
#undef explicit
