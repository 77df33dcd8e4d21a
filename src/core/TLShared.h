#pragma once

#include <cstdio>
#include <cstdlib>

// The one instance of T that main made, behind the class operation that names it (`shared`,
// `standard`). main registers it for as long as it lives. There is no fallback: asking before
// that is a programming error and ends the program instead of reaching for a real service.
template <typename T>
class TLShared {
public:
    explicit TLShared(T& instance) { slot() = &instance; }
    ~TLShared() { slot() = nullptr; }
    TLShared(const TLShared&) = delete;
    TLShared& operator=(const TLShared&) = delete;

    static T& get() {
        T* instance = slot();
        if (instance == nullptr) {
            std::fputs("Tilora: a shared instance was asked for before main made it\n", stderr);
            std::abort();
        }
        return *instance;
    }

private:
    static T*& slot() {
        static T* instance = nullptr;
        return instance;
    }
};
