#pragma once

#include <compare>
#include <string_view>

// The numeric order of version strings used for the update decision.
//
// Both strings are walked from the start. Where both have a run of decimal digits at the
// same place, the runs compare by numeric value of any length ("9" < "10"). Every other
// character compares by its code (UTF-8 bytes, so code point order), case-sensitively. When
// one string is a proper prefix of the other, the shorter orders first ("1.2" < "1.2.0").
//
// Leading zeros: a digit run counts by its value only, so runs that differ only in leading
// zeros are equal ("1.01" == "1.1", "007" == "7"). Hence the ordering is weak: two different
// strings may compare equal.
class TLVersion {
public:
    static std::weak_ordering compare(std::string_view a, std::string_view b);
    // True when `running` orders before `available`: an update exists.
    static bool isNewer(std::string_view available, std::string_view running) {
        return compare(running, available) < 0;
    }
};
