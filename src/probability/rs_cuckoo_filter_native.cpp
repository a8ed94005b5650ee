// CuckooFilter: approximate membership with deletion. Each inserted item leaves a
// 16-bit fingerprint f in one of its two candidate buckets, i1 = H mod n and
// i2 = (mix(f) xor i1) mod n, where H is the item's object hash.
//
// Invariant: each stored copy of f sits in the i1 or the i2 of one inserted, not
// yet deleted item with fingerprint f, and its tag says which, and for i2 also
// which i1. `contains` and `delete` look only at i1 and i2, so this is what rules
// out false negatives.
//
// Why the tag: i2 follows from (i1, f), but for n not a power of two i1 does not
// follow from (i2, f): the xor may carry the index past n before the reduction,
// so moving a copy from i2 "back" by the same formula can strand it in a bucket
// its item never looks at. Inverting the formula instead leaves at most two
// candidates for i1 (see first_bucket), and the tag names the right one. With
// it a copy can move between its two buckets in both directions, as in a
// power-of-two filter, and `delete` removes a copy that is provably its item's:
// one tagged `first` in i1, else one tagged as i1's second copy in i2.
//
// A failed insert retraces its chain of evictions from the copy left in hand
// and undoes every move: it leaves the filter as it was.
#include "elements.hpp"
#include "pickle.hpp"
#include "random.hpp"

#include <bit>
#include <vector>

namespace morvena {

namespace {

std::uint64_t fingerprint_mix(std::uint64_t f) noexcept {
    std::uint64_t a = f * 0xff51afd7ed558ccdULL;
    std::uint64_t b = (a ^ (a >> 33)) * 0xc4ceb9fe1a85ec53ULL;
    return b ^ (b >> 33);
}

// Where a copy sits: its item's i1, or its i2 with one of the two i1 values
// that lead there (see first_bucket).
enum class Tag : std::uint16_t { first, second_low, second_high };

// Fingerprint 0 marks an empty slot: real fingerprints are 1 to 65535.
struct Slot {
    std::uint16_t fingerprint = 0;
    Tag tag = Tag::first;
    bool empty() const noexcept { return fingerprint == 0; }
};

// A copy and the bucket it is in, or is about to be put in.
struct Placed {
    std::uint16_t fingerprint;
    std::uint64_t bucket;
    Tag tag;
};

}  // namespace

struct CuckooFilter {
    std::vector<Slot> slots;  // bucket b is slots[b * bucket_size, (b + 1) * bucket_size)
    std::uint64_t bucket_count;
    std::uint64_t bucket_size;
    std::uint64_t retries;
    std::uint64_t count = 0;
    // The smallest power of two >= bucket_count, minus one: the bits an index
    // below bucket_count can have.
    std::uint64_t index_mask;

    CuckooFilter(std::optional<std::uint64_t> size, std::optional<std::uint64_t> slots_per_bucket,
                 std::optional<std::uint64_t> max_retries)
        : bucket_count(size.value_or(100)), bucket_size(slots_per_bucket.value_or(4)),
          retries(max_retries.value_or(4)),
          index_mask(bucket_count > (std::uint64_t{1} << 63) ? UINT64_MAX : std::bit_ceil(bucket_count) - 1) {
        if (bucket_count == 0) throw_value_error("size value must be more than 0");
        if (bucket_size != 0 && bucket_count > slots.max_size() / bucket_size) throw std::bad_alloc();
        slots.resize(bucket_count * bucket_size);
    }

    // What repr() shows: the sizing, under the constructor's parameter names.
    ReprFields sizing() const {
        return {{{"size", bucket_count}, {"bucket_size", bucket_size}, {"retries", retries}}};
    }

    bool insert(PyObject *item) {
        Place at(item, *this);
        if (store(at.first) || store(at.second)) return true;
        bool start_first = thread_random().next_u32() >> 31;
        return displace(start_first ? at.first : at.second);
    }

    bool contains(PyObject *item) {
        Place at(item, *this);
        return find(at.first.bucket, at.first.fingerprint) || find(at.second.bucket, at.first.fingerprint);
    }

    bool delete_item(PyObject *item) {
        Place at(item, *this);
        Slot *slot = find(at.first);
        if (!slot) slot = find(at.second);
        if (!slot) return false;
        *slot = Slot{};
        --count;
        return true;
    }

    std::uint64_t len() const { return count; }
    bool is_empty() const { return count == 0; }
    double load_factor() const {
        return static_cast<double>(count) / (static_cast<double>(bucket_size) * static_cast<double>(bucket_count));
    }

    void clear() {
        std::fill(slots.begin(), slots.end(), Slot{});
        count = 0;
    }

    Ref init_args() const { return make_tuple(to_python(bucket_count), to_python(bucket_size), to_python(retries)); }

    // The settings, every slot as a fingerprint and a tag (two 16-bit words
    // each), and the fingerprint of the hashing that placed them.
    Ref state() const {
        BytesBuilder packed(slots.size() * 4);
        for (std::size_t i = 0; i < slots.size(); ++i) {
            auto tag = static_cast<std::uint16_t>(slots[i].tag);
            const unsigned char bytes[4] = {static_cast<unsigned char>(slots[i].fingerprint),
                                            static_cast<unsigned char>(slots[i].fingerprint >> 8),
                                            static_cast<unsigned char>(tag), static_cast<unsigned char>(tag >> 8)};
            std::memcpy(packed.data() + 4 * i, bytes, 4);
        }
        return make_tuple(to_python(bucket_count), to_python(bucket_size), to_python(retries),
                          std::move(packed).finish(), hashing_fingerprint());
    }

    // Every copy must sit where its tag says an item could have put it, the
    // invariant that rules out false negatives.
    static CuckooFilter from_state(const StateReader &state) {
        state.fields(5);
        std::uint64_t n = state.u64(0, "the bucket count");
        std::uint64_t size = state.u64(1, "the bucket size");
        std::uint64_t tries = state.u64(2, "the retries");
        std::string_view packed = state.bytes(3, 4, "the slots");
        state.same_hashing(state.field(4));
        std::uint64_t total = packed.size() / 4;
        if (size == 0 ? total != 0 : (n > total / size || n * size != total))
            state.invalid("the slots do not match the bucket count and size");
        CuckooFilter out(n, size, tries);
        for (std::uint64_t i = 0; i < total; ++i) {
            auto byte = [&](std::uint64_t at) { return static_cast<std::uint16_t>(static_cast<unsigned char>(packed[at])); };
            auto fingerprint = static_cast<std::uint16_t>(byte(4 * i) | byte(4 * i + 1) << 8);
            auto tag = static_cast<std::uint16_t>(byte(4 * i + 2) | byte(4 * i + 3) << 8);
            if (tag > static_cast<std::uint16_t>(Tag::second_high) || (fingerprint == 0 && tag != 0))
                state.invalid("a slot has an unknown tag");
            out.slots[i] = Slot{fingerprint, static_cast<Tag>(tag)};
            if (fingerprint == 0) continue;
            ++out.count;
            if (out.slots[i].tag == Tag::first) continue;
            std::uint64_t b = i / size;
            Placed back = out.other(Placed{fingerprint, b, out.slots[i].tag});
            if (back.bucket >= n || out.other(back).bucket != b || out.other(back).tag != out.slots[i].tag)
                state.invalid("a copy sits where no item could have put it");
        }
        return out;
    }

    void check() const {
        std::uint64_t occupied = 0;
        for (std::uint64_t b = 0; b < bucket_count && bucket_size; ++b) {
            for (const Slot &slot : bucket(b)) {
                if (slot.empty()) continue;
                ++occupied;
                if (slot.tag == Tag::first) continue;  // every bucket is some item's i1
                Placed back = other(Placed{slot.fingerprint, b, slot.tag});
                if (back.bucket >= bucket_count || other(back).bucket != b || other(back).tag != slot.tag)
                    throw_panic("CuckooFilter copy tagged with an i1 that does not lead to its bucket");
            }
        }
        if (occupied != count) throw_panic("CuckooFilter count disagrees with its slots");
    }

private:
    // The item's copy as it would sit in i1 and in i2, from one hash call.
    struct Place {
        Placed first, second;
        Place(PyObject *item, const CuckooFilter &filter) {
            auto hash = static_cast<std::uint64_t>(element_hash(item));
            auto low = static_cast<std::uint16_t>(hash);
            first = Placed{low <= 1 ? std::uint16_t{1} : low, hash % filter.bucket_count, Tag::first};
            second = filter.other(first);
        }
    };

    std::uint64_t alternate(std::uint64_t i1, std::uint16_t fingerprint) const noexcept {
        return (fingerprint_mix(fingerprint) ^ i1) % bucket_count;
    }

    // The i1 that the tag of a copy in i2 names. With W = index_mask + 1 and
    // i1 < n <= W, y = mix(f) xor i1 has the bits of mix(f) from W up and
    // i1 xor (mix(f) mod W) below W. That low part must make y mod n = i2, so it is
    // off0 = (i2 - (mix(f) - mix(f) mod W)) mod n or off0 + n (second_low and
    // second_high), and W < 2n leaves no third value.
    std::uint64_t first_bucket(std::uint64_t i2, std::uint16_t fingerprint, Tag tag) const noexcept {
        std::uint64_t mix = fingerprint_mix(fingerprint);
        std::uint64_t high = (mix & ~index_mask) % bucket_count;
        std::uint64_t off0 = i2 >= high ? i2 - high : i2 + (bucket_count - high);
        return (tag == Tag::second_high ? off0 + bucket_count : off0) ^ (mix & index_mask);
    }

    // The copy's other candidate bucket, tagged as it would sit there.
    Placed other(Placed at) const noexcept {
        if (at.tag == Tag::first) {
            std::uint64_t offset = at.bucket ^ (fingerprint_mix(at.fingerprint) & index_mask);
            return {at.fingerprint, alternate(at.bucket, at.fingerprint),
                    offset >= bucket_count ? Tag::second_high : Tag::second_low};
        }
        return {at.fingerprint, first_bucket(at.bucket, at.fingerprint, at.tag), Tag::first};
    }

    std::span<Slot> bucket(std::uint64_t b) noexcept { return {slots.data() + b * bucket_size, bucket_size}; }
    std::span<const Slot> bucket(std::uint64_t b) const noexcept {
        return {slots.data() + b * bucket_size, bucket_size};
    }

    // Into the first empty slot of its bucket, if there is one.
    bool store(Placed copy) noexcept {
        for (Slot &slot : bucket(copy.bucket)) {
            if (slot.empty()) {
                slot = Slot{copy.fingerprint, copy.tag};
                ++count;
                return true;
            }
        }
        return false;
    }

    Slot *find(std::uint64_t b, std::uint16_t fingerprint) noexcept {
        for (Slot &slot : bucket(b))
            if (slot.fingerprint == fingerprint) return &slot;
        return nullptr;
    }

    Slot *find(Placed copy) noexcept {
        for (Slot &slot : bucket(copy.bucket))
            if (slot.fingerprint == copy.fingerprint && slot.tag == copy.tag) return &slot;
        return nullptr;
    }

    // Both candidate buckets are full. Puts the copy in hand into a random slot
    // of its bucket, takes the evicted copy in hand, aimed at its other bucket,
    // and goes on until a bucket has room or `retries` evictions are used up.
    // A fixed victim slot would let two or three buckets trade the same copies
    // in a cycle; a random one walks on. The victims come from a counter-based
    // stream (step j's slot is a function of the seed and j), so a failed chain
    // can be retraced backwards to undo it, without a log.
    bool displace(Placed hand) noexcept {
        // With every slot taken no chain can end, however many retries it may use.
        if (count == slots.size() || retries == 0) return false;
        std::uint64_t seed = thread_random().next_u64();
        for (std::uint64_t step = 0; step < retries; ++step) {
            Slot &victim = bucket(hand.bucket)[victim_slot(seed, step)];
            Slot evicted = std::exchange(victim, Slot{hand.fingerprint, hand.tag});
            hand = other(Placed{evicted.fingerprint, hand.bucket, evicted.tag});
            if (store(hand)) return true;
        }
        undo(hand, seed, retries);
        return false;
    }

    std::uint64_t victim_slot(std::uint64_t seed, std::uint64_t step) const noexcept {
        return Random(seed + step * 0x9e3779b97f4a7c15ULL).next_u64() % bucket_size;
    }

    // Retraces `steps` evictions backwards: the copy in hand came out of its
    // other bucket, at that step's victim slot, and the copy in that slot now was
    // in hand before.
    void undo(Placed hand, std::uint64_t seed, std::uint64_t steps) noexcept {
        while (steps--) {
            Placed from = other(hand);
            Slot &slot = bucket(from.bucket)[victim_slot(seed, steps)];
            Slot put = std::exchange(slot, Slot{from.fingerprint, from.tag});
            hand = Placed{put.fingerprint, from.bucket, put.tag};
        }
    }
};

extern const ClassDef cuckoo_filter_class =
    PyClass<CuckooFilter>("CuckooFilter")
        .init<std::optional<std::uint64_t>, std::optional<std::uint64_t>, std::optional<std::uint64_t>>(
            {"size", "bucket_size", "retries"})
        .method<&CuckooFilter::insert>("insert", {"item"})
        .method<&CuckooFilter::contains>("contains", {"item"})
        .method<&CuckooFilter::delete_item>("delete", {"item"})
        .method<&CuckooFilter::len>("len")
        .method<&CuckooFilter::is_empty>("is_empty")
        .method<&CuckooFilter::load_factor>("load_factor")
        .method<&CuckooFilter::clear>("clear")
        .repr<&CuckooFilter::sizing>()
        .pickle<&CuckooFilter::state, &CuckooFilter::from_state>()
        .contains<&CuckooFilter::contains>();

}  // namespace morvena
