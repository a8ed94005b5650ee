// The per-thread random generator behind the randomized structures (cuckoo
// eviction choices, skip-list heights). Each thread gets its own stream, seeded
// once from the operating system's entropy source; no behaviour depends on a
// particular sequence, so nothing is reproducible or meant to be.
#pragma once

#include <chrono>
#include <cstdint>
#include <sys/random.h>

namespace morvena {

// SplitMix64: one word of state, a handful of instructions per draw and
// statistically sound output, which is all a structure's coin flips need. It is
// not a cryptographic generator.
class Random {
public:
    explicit Random(std::uint64_t seed) noexcept : state_(seed) {}

    static Random from_os() noexcept {
        std::uint64_t seed = 0;
        if (getrandom(&seed, sizeof seed, 0) != static_cast<ssize_t>(sizeof seed)) {
            // No entropy source (an old kernel or a seccomp jail): the clock and
            // this thread's stack address still give distinct streams.
            seed = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                   reinterpret_cast<std::uintptr_t>(&seed);
        }
        return Random(seed);
    }

    std::uint64_t next_u64() noexcept {
        std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }

    std::uint32_t next_u32() noexcept { return static_cast<std::uint32_t>(next_u64() >> 32); }

    // Uniform in [0, 1), from the top 53 bits so every value is exact.
    double next_double() noexcept { return static_cast<double>(next_u64() >> 11) * 0x1.0p-53; }

private:
    std::uint64_t state_;
};

// The calling thread's generator, seeded on its first use in that thread.
inline Random &thread_random() noexcept {
    thread_local Random generator = Random::from_os();
    return generator;
}

}  // namespace morvena
