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
#include "pickle.hpp"

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

    BloomFilter(BitArray restored, double p, std::uint64_t k) noexcept
        : bits(std::move(restored)), probability(p), bit_count(bits.size()), hash_count(k) {}

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

    // What repr() shows: the derived sizing, the only state worth reading.
    ReprFields sizing() const {
        return {{{"bits", bit_count}, {"hashes", hash_count}, {"probability", probability}}};
    }

    // Any valid arguments: the state replaces the sizes they would give.
    Ref init_args() const { return make_tuple(to_python(std::uint64_t{1}), to_python(probability)); }

    // The sizes, the bits (packed words) and the fingerprint of the hashing
    // that placed them.
    Ref state() const {
        BytesBuilder words(bits.word_count() * 8);
        for (std::uint64_t w = 0; w < bits.word_count(); ++w) store_u64(words.data() + 8 * w, bits.word(w));
        return make_tuple(to_python(bit_count), to_python(hash_count), to_python(probability),
                          std::move(words).finish(), hashing_fingerprint());
    }

    static BloomFilter from_state(const StateReader &state) {
        state.fields(5);
        std::uint64_t m = state.u64(0, "the bit count");
        std::uint64_t k = state.u64(1, "the hash count");
        double p = state.real(2, "the probability");
        std::string_view words = state.bytes(3, 8, "the bits");
        state.same_hashing(state.field(4));
        if (m == 0 || k == 0) state.invalid("the bit and hash counts must be positive");
        if (!(p > 0 && p < 1)) state.invalid("the probability must be between 0 and 1");
        if (words.size() / 8 != m / 64 + (m % 64 != 0)) state.invalid("the bits do not match the bit count");
        BitArray restored(m);
        for (std::uint64_t w = 0; w < restored.word_count(); ++w) restored.set_word(w, load_u64(words.data() + 8 * w));
        if (m % 64 && restored.word(restored.word_count() - 1) >> (m % 64))
            state.invalid("bits are set past the bit count");
        return BloomFilter(std::move(restored), p, k);
    }

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
                                               .repr<&BloomFilter::sizing>()
                                               .pickle<&BloomFilter::state, &BloomFilter::from_state>()
                                               .contains<&BloomFilter::contains>();

}  // namespace morvena
