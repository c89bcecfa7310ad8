// Invariant checks for the fuzz targets: a broken invariant prints what was
// expected and aborts, so libFuzzer keeps the input as a crash artifact.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(cond, ...)                                                                                          \
    do {                                                                                                               \
        if (!(cond)) {                                                                                                 \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n  ", __FILE__, __LINE__, #cond);                        \
            std::fprintf(stderr, __VA_ARGS__);                                                                         \
            std::fprintf(stderr, "\n");                                                                                \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (0)

// A small deterministic generator for the choices a target derives from its
// input (splits, delays), so every run of one input is the same.
struct FuzzRng {
    unsigned long long state;
    explicit FuzzRng(unsigned long long seed) : state(seed * 0x9E3779B97F4A7C15ull + 1) {}
    unsigned Next() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return static_cast<unsigned>(state >> 11);
    }
    unsigned Below(unsigned n) { return n == 0 ? 0 : Next() % n; }
};
