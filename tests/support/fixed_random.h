// A small generator (xorshift) for generated documents: the same seed gives the same numbers on
// every machine, so a generated corpus or check folder is the same everywhere.
#pragma once

#include <cstddef>
#include <cstdint>

class FixedRandom {
public:
    explicit FixedRandom(std::uint64_t seed) : State(seed) {}
    std::uint32_t Next()
    {
        State ^= State << 13;
        State ^= State >> 7;
        State ^= State << 17;
        return static_cast<std::uint32_t>(State >> 16);
    }
    std::size_t Below(std::size_t bound) { return Next() % bound; }
    bool Chance(unsigned percent) { return Below(100) < percent; }

private:
    std::uint64_t State;
};
