// BloomFilter: approximate membership over the interpreter's object hash. An item
// added is always reported present; any other item is reported present with
// about the probability chosen at construction. Only bits are stored.
//
// Sizing is the textbook optimum for n items at rate p: m = ceil(-n ln p / ln²2)
// bits and k = ceil(m / n · ln 2) positions per item.
//
// Positions come from double hashing, g_i = h1 + i·h2 (mod 2^64), reduced into
// [0, m) by a multiply-high. h1 and h2 are two different 64-bit finalisers of the
// item's hash: the object hash of an int is the int itself, so sequential ints
// differ only in their low bits, and the positions are only independent once
// every bit of the hash has reached every bit of h1 and h2. h2 is odd so the k
// values of g are distinct for any k below 2^64.
#include "elements.hpp"
#include "other/rs_bit_array.hpp"
#include "pyclass.hpp"

#include <cmath>

namespace morvena {

namespace {

constexpr double ln_2 = 0.6931471805599453;
constexpr double ln_2_squared = 0.4804530139182014;

// Doubles that do not fit become 0 below and the largest value above, NaN 0.
std::uint64_t saturating_u64(double value) noexcept {
    if (!(value > 0)) return 0;
    if (value >= 18446744073709551616.0) return UINT64_MAX;
    return static_cast<std::uint64_t>(value);
}

// MurmurHash3's fmix64.
std::uint64_t murmur_mix(std::uint64_t x) noexcept {
    x = (x ^ (x >> 33)) * 0xff51afd7ed558ccdULL;
    x = (x ^ (x >> 33)) * 0xc4ceb9fe1a85ec53ULL;
    return x ^ (x >> 33);
}

// SplitMix64's finaliser: different constants and shifts, so it is not a
// function of murmur_mix(x).
std::uint64_t splitmix_mix(std::uint64_t x) noexcept {
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

// The index in [0, m) that the top bits of g select: uniform for a uniform g and
// one multiplication instead of a 64-bit division per position.
std::uint64_t reduce(std::uint64_t g, std::uint64_t m) noexcept {
    return static_cast<std::uint64_t>((static_cast<unsigned __int128>(g) * m) >> 64);
}

}  // namespace

struct BloomFilter {
    BitArray bits;
    double probability;
    std::uint64_t bit_count;
    std::uint64_t hash_count;

    BloomFilter(std::uint64_t size, double p)
        : bits(checked_bit_count(size, p)), probability(p), bit_count(bits.size()),
          hash_count(saturating_u64(std::ceil(static_cast<double>(bit_count) / static_cast<double>(size) * ln_2))) {}

    void add(PyObject *item) {
        Positions at(item, *this);
        for (std::uint64_t i = 0; i < hash_count; ++i) bits.set(at.next());
    }

    bool contains(PyObject *item) const {
        Positions at(item, *this);
        for (std::uint64_t i = 0; i < hash_count; ++i)
            if (!bits.get(at.next())) return false;
        return true;
    }

    void clear() { bits.clear(); }

    void check() const {
        if (bit_count == 0 || hash_count == 0 || bits.size() != bit_count)
            throw_panic("BloomFilter sizes disagree with its bit array");
    }

private:
    // Validates before anything is allocated; the order of the two checks is
    // part of the interface (a bad probability wins over a zero size).
    static std::uint64_t checked_bit_count(std::uint64_t size, double p) {
        if (!(p > 0 && p < 1)) throw_panic("probability value must be 0 - 1");
        if (size == 0) throw_panic("n value must be more than 0");
        return saturating_u64(std::ceil(static_cast<double>(size) * std::log(p) / -ln_2_squared));
    }

    // The item's k positions, one hash call for all of them.
    class Positions {
    public:
        Positions(PyObject *item, const BloomFilter &filter)
            : bit_count_(filter.bit_count) {
            auto hash = static_cast<std::uint64_t>(element_hash(item));
            g_ = murmur_mix(hash);
            step_ = splitmix_mix(hash) | 1;
        }
        std::uint64_t next() noexcept {
            std::uint64_t position = reduce(g_, bit_count_);
            g_ += step_;
            return position;
        }

    private:
        std::uint64_t bit_count_;
        std::uint64_t g_;
        std::uint64_t step_;
    };
};

extern const ClassDef bloom_filter_class = PyClass<BloomFilter>("BloomFilter")
                                               .init<std::uint64_t, double>({"size", "probability"})
                                               .method<&BloomFilter::add>("add", {"item"})
                                               .method<&BloomFilter::contains>("contains", {"item"})
                                               .method<&BloomFilter::clear>("clear")
                                               .contains<&BloomFilter::contains>();

}  // namespace morvena
