// CuckooFilter: approximate membership with deletion. Each inserted item leaves a
// 16-bit fingerprint f in one of its two candidate buckets, i1 = H mod n and
// i2 = (mix(f) xor i1) mod n, where H is the item's object hash.
//
// Invariant: every stored fingerprint can be matched to one inserted, not yet
// deleted item with that fingerprint, sitting either in the item's i1 with the
// tag `first` or in its i2 with the tag `second`. `contains` and `delete` look
// only at i1 and i2, so this is what rules out false negatives.
//
// Why the tag: i2 is computable from (i1, f), but i1 is not computable from
// (i2, f) unless n is a power of two, because the xor can carry the index past n
// before the reduction. So only fingerprints tagged `first` are ever displaced
// (to their i2, where they stay), and `delete` takes a `first` copy from i1, else
// a `second` copy from i2: any copy it takes that way is one the matching can
// hand to the deleted item, so every kept item still finds its own.
//
// A failed insert undoes its displacements, so it leaves every slot as it was.
#include "elements.hpp"
#include "pyclass.hpp"
#include "random.hpp"

#include <vector>

namespace morvena {

namespace {

std::uint64_t fingerprint_mix(std::uint64_t f) noexcept {
    std::uint64_t a = f * 0xff51afd7ed558ccdULL;
    std::uint64_t b = (a ^ (a >> 33)) * 0xc4ceb9fe1a85ec53ULL;
    return b ^ (b >> 33);
}

enum Tag : std::uint16_t { first = 0, second = 1 };

// fingerprint 0 marks an empty slot: real fingerprints are 1 to 65535.
struct Slot {
    std::uint16_t fingerprint = 0;
    std::uint16_t tag = first;
    bool empty() const noexcept { return fingerprint == 0; }
};

}  // namespace

struct CuckooFilter {
    std::vector<Slot> slots;  // bucket b is slots[b * bucket_size, (b + 1) * bucket_size)
    std::uint64_t bucket_count;
    std::uint64_t bucket_size;
    std::uint64_t retries;
    std::uint64_t count = 0;

    CuckooFilter(std::optional<std::uint64_t> size, std::optional<std::uint64_t> slots_per_bucket,
                 std::optional<std::uint64_t> max_retries)
        : bucket_count(size.value_or(100)), bucket_size(slots_per_bucket.value_or(4)),
          retries(max_retries.value_or(4)) {
        if (bucket_count == 0) throw_value_error("size value must be more than 0");
        if (bucket_size != 0 && bucket_count > slots.max_size() / bucket_size) throw std::bad_alloc();
        slots.resize(bucket_count * bucket_size);
    }

    bool insert(PyObject *item) {
        Place at(item, *this);
        if (store_in(at.i1, at.fingerprint, first) || store_in(at.i2, at.fingerprint, second)) return true;
        bool start_first = thread_random().next_u32() >> 31;
        return displace(at.fingerprint, start_first ? at.i1 : at.i2, start_first ? first : second);
    }

    bool contains(PyObject *item) {
        Place at(item, *this);
        return find(at.i1, at.fingerprint, std::nullopt) || find(at.i2, at.fingerprint, std::nullopt);
    }

    bool delete_item(PyObject *item) {
        Place at(item, *this);
        Slot *slot = find(at.i1, at.fingerprint, first);
        if (!slot) slot = find(at.i2, at.fingerprint, second);
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

    void check() const {
        std::uint64_t occupied = 0;
        for (std::uint64_t b = 0; b < bucket_count; ++b) {
            for (const Slot &slot : bucket(b)) {
                if (slot.empty()) continue;
                ++occupied;
                if (slot.tag != first && slot.tag != second) throw_panic("CuckooFilter slot has a bad tag");
            }
        }
        if (occupied != count) throw_panic("CuckooFilter count disagrees with its slots");
    }

private:
    // The item's fingerprint and candidate buckets, from one hash call.
    struct Place {
        std::uint16_t fingerprint;
        std::uint64_t i1, i2;
        Place(PyObject *item, const CuckooFilter &filter) {
            auto hash = static_cast<std::uint64_t>(element_hash(item));
            std::uint16_t low = static_cast<std::uint16_t>(hash);
            fingerprint = low <= 1 ? 1 : low;
            i1 = hash % filter.bucket_count;
            i2 = filter.alternate(i1, fingerprint);
        }
    };

    std::uint64_t alternate(std::uint64_t b, std::uint16_t fingerprint) const noexcept {
        return (fingerprint_mix(fingerprint) ^ b) % bucket_count;
    }

    std::span<Slot> bucket(std::uint64_t b) noexcept { return {slots.data() + b * bucket_size, bucket_size}; }
    std::span<const Slot> bucket(std::uint64_t b) const noexcept {
        return {slots.data() + b * bucket_size, bucket_size};
    }

    bool store_in(std::uint64_t b, std::uint16_t fingerprint, Tag tag) noexcept {
        for (Slot &slot : bucket(b)) {
            if (slot.empty()) {
                slot = Slot{fingerprint, tag};
                ++count;
                return true;
            }
        }
        return false;
    }

    // The first slot of bucket b holding the fingerprint, with the given tag
    // unless `tag` is null.
    Slot *find(std::uint64_t b, std::uint16_t fingerprint, std::optional<Tag> tag) noexcept {
        for (Slot &slot : bucket(b))
            if (slot.fingerprint == fingerprint && (!tag || slot.tag == *tag)) return &slot;
        return nullptr;
    }

    // Both candidate buckets are full: put the fingerprint into bucket b (tagged as
    // which candidate b is for it), move the displaced `first` copy to its i2, and
    // go on from there. Each move after the first turns a `first` copy into a
    // `second` one, so the chain ends within `retries` and the number of slots.
    bool displace(std::uint16_t fingerprint, std::uint64_t b, Tag tag) {
        undo_log.clear();
        try {
            for (std::uint64_t step = 0; step < retries; ++step) {
                Slot *victim = find_displaceable(b);
                if (!victim) break;
                undo_log.push_back({static_cast<std::size_t>(victim - slots.data()), *victim});
                Slot moved = std::exchange(*victim, Slot{fingerprint, tag});
                fingerprint = moved.fingerprint;
                b = alternate(b, fingerprint);
                tag = second;
                if (store_in(b, fingerprint, second)) return true;
            }
        } catch (...) {
            undo();
            throw;
        }
        undo();
        return false;
    }

    // A `first` copy of bucket b, preferring one whose i2 has a free slot so the
    // chain ends at the next step: a displaced copy can never move again, so a
    // chain that wanders wastes the bucket's few movable copies.
    Slot *find_displaceable(std::uint64_t b) noexcept {
        Slot *fallback = nullptr;
        for (Slot &slot : bucket(b)) {
            if (slot.empty() || slot.tag != first) continue;
            if (has_room(alternate(b, slot.fingerprint))) return &slot;
            if (!fallback) fallback = &slot;
        }
        return fallback;
    }

    bool has_room(std::uint64_t b) const noexcept {
        for (const Slot &slot : bucket(b))
            if (slot.empty()) return true;
        return false;
    }

    void undo() noexcept {
        for (auto entry = undo_log.rbegin(); entry != undo_log.rend(); ++entry) slots[entry->first] = entry->second;
    }

    // Scratch space of the displacement chain, kept between calls so an insert
    // that displaces does not allocate once the log has grown to its chains.
    std::vector<std::pair<std::size_t, Slot>> undo_log;
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
        .method<&CuckooFilter::clear>("clear");

}  // namespace morvena
