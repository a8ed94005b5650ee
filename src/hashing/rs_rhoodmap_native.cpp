// RhoodMap: a fixed-capacity hash map in one slot array, linear probing with the
// Robin Hood rule on insertion and backward-shift deletion (no tombstones).
// Invariant: every occupied slot sits `distance` slots after home = hash % capacity
// (cyclically), and `count` is the number of occupied slots, never above capacity.
//
// Insertion never looks for an existing key: equal keys may occupy several
// slots. A newer entry displaces an older one with the same home (ties displace),
// so lookups, which walk from the home slot to the first free slot, meet the
// newest of equal keys first. Lookups do not stop early on the Robin Hood bound,
// because keys are matched by Python equality and an equal key (1.0 for 1, or a
// class with its own __eq__) may sit anywhere on the probe path.
//
// A slot keeps the key's full hash rather than only its home: for plain keys
// (exact str and int) a hash mismatch settles a probe without touching the key
// object, which is what keeps lookups in a large map from missing the cache twice.
#include "elements.hpp"
#include "hashing/native_key.hpp"
#include "pickle.hpp"

#include <cmath>
#include <memory>

namespace morvena {

namespace {

struct Slot {
    Ref key;  // null marks a free slot; the other fields are then meaningless
    Ref value;
    std::uint64_t hash = 0;
    std::uint64_t distance : 63 = 0;
    std::uint64_t plain : 1 = 0;
};

std::unique_ptr<Slot[]> empty_slots(std::uint64_t capacity) {
    if (capacity > static_cast<std::uint64_t>(PTRDIFF_MAX) / sizeof(Slot)) throw std::bad_alloc();
    return std::unique_ptr<Slot[]>(new Slot[capacity]());
}

[[noreturn, gnu::cold, gnu::noinline]] void throw_full(std::uint64_t capacity) {
    throw_value_error("Maximum capacity (" + std::to_string(capacity) + ") reached! Unable to insert key-value");
}

[[noreturn, gnu::cold, gnu::noinline]] void throw_missing(PyObject *key) {
    throw_value_error("Could not locate key " + element_text(key) + " in rhoodMap");
}

}  // namespace

struct RhoodMap {
    std::unique_ptr<Slot[]> slots;
    std::uint64_t cap;
    std::uint64_t count = 0;

    explicit RhoodMap(std::optional<std::uint64_t> capacity)
        : slots(empty_slots(capacity.value_or(1024))), cap(capacity.value_or(1024)) {}
    RhoodMap(RhoodMap &&other) noexcept
        : slots(std::move(other.slots)), cap(other.cap), count(std::exchange(other.count, 0)) {}
    ~RhoodMap() { release(std::move(slots), cap); }

    std::uint64_t next(std::uint64_t i) const noexcept { return i + 1 == cap ? 0 : i + 1; }

    // Releases keys and values in slot order; the array is already detached, so
    // a finaliser that runs meanwhile sees a consistent map.
    static void release(std::unique_ptr<Slot[]> old, std::uint64_t n) noexcept {
        if (!old) return;
        // The objects lie in hash order all over memory: each is fetched a few
        // slots ahead of its release.
        constexpr std::uint64_t ahead = 8;
        for (std::uint64_t i = 0; i < n; ++i) {
            if (i + ahead < n && old[i + ahead].key) {
                __builtin_prefetch(old[i + ahead].key.get(), 1);
                __builtin_prefetch(old[i + ahead].value.get(), 1);
            }
            old[i].key = nullptr;
            old[i].value = nullptr;
        }
    }

    // The Robin Hood walk: the carried entry takes any slot whose resident is no
    // farther from home than it is, and the resident is carried on. The caller
    // has checked that a free slot exists.
    void place(Slot carried, PyObject *key) {
        std::uint64_t i = carried.hash % cap;
        for (std::uint64_t probes = 0; probes < cap; ++probes, i = next(i)) {
            Slot &slot = slots[i];
            if (!slot.key) {
                slot = std::move(carried);
                ++count;
                return;
            }
            if (carried.distance >= slot.distance) std::swap(carried, slot);
            carried.distance = carried.distance + 1;
        }
        throw_value_error("Could not insert key " + element_text(key) + " into RhoodMap");
    }

    // The slot holding a key equal to `key`, or capacity when none is reached.
    // Python equality may run user code; the borrow flag keeps the array still.
    std::uint64_t find(PyObject *key) const {
        Probe probe = probe_of(key, to_native_key(key));
        if (cap == 0) return cap;
        std::uint64_t i = probe.hash % cap;
        for (std::uint64_t probes = 0; probes < cap; ++probes, i = next(i)) {
            const Slot &slot = slots[i];
            if (!slot.key) return cap;
            if (key_matches(slot.key.get(), slot.hash, slot.plain, probe)) return i;
        }
        return cap;
    }

    bool insert(PyObject *key, Ref value) {
        if (count >= cap) throw_full(cap);
        Probe probe = probe_of(key, to_native_key(key));
        place(Slot{Ref::borrow(key), std::move(value), probe.hash, 0, probe.plain}, key);
        return true;
    }

    Ref remove(PyObject *key) {
        std::uint64_t i = find(key);
        if (i == cap) throw_missing(key);
        Slot removed = std::move(slots[i]);
        --count;
        // Pull the run after the hole one step back towards home; it ends at a
        // free slot or at an entry already at home. Each step lowers the total
        // distance, so the loop ends even when the run wraps around.
        for (std::uint64_t hole = i, j = next(i); slots[j].key && slots[j].distance != 0; hole = j, j = next(j)) {
            slots[hole] = std::move(slots[j]);
            slots[hole].distance = slots[hole].distance - 1;
        }
        return std::move(removed.value);  // the key is released here, the map already whole
    }

    Ref get(PyObject *key) const {
        std::uint64_t i = find(key);
        return i == cap ? Ref::none() : slots[i].value.clone();
    }

    bool update(PyObject *key, Ref new_value) {
        std::uint64_t i = find(key);
        if (i == cap) return false;
        slots[i].value = std::move(new_value);
        return true;
    }

    bool contains(PyObject *key) const { return find(key) != cap; }

    Ref from_keys(PyObject *iterable) const {
        std::vector<Ref> found;
        for_each_item(iterable, [&](PyObject *key) {
            Ref value = get(key);
            if (value.get() != Py_None) found.push_back(std::move(value));
        });
        return to_python(std::move(found));
    }

    template <class Get>
    Ref listing(Get &&get_item) const {
        ListBuilder list(count);
        for (std::uint64_t i = 0; i < cap; ++i)
            if (slots[i].key) list.push(get_item(slots[i]));
        return std::move(list).finish();
    }

    Ref keys() const {
        return listing([](const Slot &slot) { return slot.key.clone(); });
    }
    Ref values() const {
        return listing([](const Slot &slot) { return slot.value.clone(); });
    }
    Ref items() const {
        return listing([](const Slot &slot) { return to_python(std::tuple(slot.key.clone(), slot.value.clone())); });
    }

    // The copy keeps every entry in its slot, distance included. Re-inserting in
    // slot order would reorder equal keys on a shared probe path (the older one
    // first), so the copy would answer a lookup with another entry's value.
    RhoodMap copy() const {
        RhoodMap out(cap);
        for (std::uint64_t i = 0; i < cap; ++i) {
            const Slot &slot = slots[i];
            if (slot.key) out.slots[i] = Slot{slot.key.clone(), slot.value.clone(), slot.hash, slot.distance, slot.plain};
        }
        out.count = count;
        return out;
    }

    Ref info() const {
        return make_dict({{"type", to_python(std::string_view("RhoodMap"))},
                          {"capacity", to_python(cap)},
                          {"size", to_python(count)},
                          {"percentage", to_python(percentage())},
                          {"keys", keys()},
                          {"values", values()}});
    }

    std::uint64_t capacity() const { return cap; }
    std::uint64_t size() const { return count; }
    // A map of capacity 0 gives NaN, as the plain division does.
    double percentage() const { return static_cast<double>(count) / static_cast<double>(cap) * 100.0; }
    bool is_empty() const { return count == 0; }

    void clear() {
        auto old = std::exchange(slots, empty_slots(cap));
        count = 0;
        release(std::move(old), cap);
    }

    // The state sets the capacity: an empty table is all the constructor need
    // allocate before it is replaced.
    Ref init_args() const { return make_tuple(to_python(std::uint64_t{0})); }

    // The capacity, each entry's slot (packed words) and the keys and values,
    // entry by entry in the order of the keys' addresses (see by_address).
    // Slots are kept exactly: they decide listing orders, which of equal keys a
    // lookup meets first, and where later entries land.
    Ref state() const {
        struct Placed {
            PyObject *key, *value;
            std::uint64_t slot;
        };
        std::vector<Placed> placed;
        placed.reserve(count);
        for (std::uint64_t i = 0; i < cap; ++i)
            if (slots[i].key) placed.push_back({slots[i].key.get(), slots[i].value.get(), i});
        placed = by_address(std::move(placed), [](const Placed &p) { return p.key; });
        BytesBuilder positions(count * 8);
        ListBuilder keys(count), values(count);
        for (std::uint64_t at = 0; at < count; ++at) {
            store_u64(positions.data() + 8 * at, placed[at].slot);
            keys.push_borrowed(placed[at].key);
            values.push_borrowed(placed[at].value);
        }
        return make_tuple(to_python(cap), std::move(positions).finish(), std::move(keys).finish(),
                          std::move(values).finish());
    }

    static RhoodMap from_state(const StateReader &state) {
        state.fields(4);
        std::uint64_t capacity = state.u64(0, "the capacity");
        std::string_view positions = state.bytes(1, 8, "the positions");
        std::vector<Ref> keys = state.items(state.field(2), "the keys");
        std::vector<Ref> values = state.items(state.field(3), "the values");
        std::uint64_t n = positions.size() / 8;
        if (keys.size() != n || values.size() != n) state.invalid("the positions, keys and values differ in number");
        for (std::uint64_t i = 0; i < n; ++i)
            if (load_u64(positions.data() + 8 * i) >= capacity) state.invalid("a position is past the capacity");
        RhoodMap out(capacity);
        // The positions come in the keys' address order, so the slots are
        // written all over the table: each is fetched a few entries ahead.
        constexpr std::uint64_t ahead = 16;
        for (std::uint64_t i = 0; i < n; ++i) {
            if (i + ahead < n) __builtin_prefetch(&out.slots[load_u64(positions.data() + 8 * (i + ahead))], 1);
            std::uint64_t position = load_u64(positions.data() + 8 * i);
            if (out.slots[position].key) state.invalid("two entries share a slot");
            PyObject *key = keys[i].get();
            Probe probe = probe_of(key, to_native_key(key));
            std::uint64_t home = probe.hash % capacity;
            std::uint64_t distance = position >= home ? position - home : position + (capacity - home);
            out.slots[position] = Slot{std::move(keys[i]), std::move(values[i]), probe.hash, distance, probe.plain};
        }
        out.count = n;
        // Lookups walk from home to the first free slot: an entry with a free
        // slot before it on that walk could never be found again.
        if (n < capacity) {
            std::uint64_t free = 0;
            while (out.slots[free].key) ++free;
            std::uint64_t run = 0;
            for (std::uint64_t step = 1, i = out.next(free); step <= capacity; ++step, i = out.next(i)) {
                if (!out.slots[i].key) {
                    run = 0;
                    continue;
                }
                if (out.slots[i].distance >= ++run) state.invalid("an entry is out of reach of its lookups");
            }
        }
        return out;
    }
    void visit(Visitor &v) const {
        for (std::uint64_t i = 0; slots && i < cap; ++i) {
            v(slots[i].key);
            v(slots[i].value);
        }
    }
    // The keys in slot order, as keys() lists them.
    struct Cursor {
        std::uint64_t slot = 0;
        Ref next(const RhoodMap &map) noexcept {
            for (; slot < map.cap; ++slot)
                if (map.slots[slot].key) return map.slots[slot++].key.clone();
            return {};
        }
    };
    Cursor cursor() const { return {}; }

    void check() const {
        std::uint64_t occupied = 0;
        for (std::uint64_t i = 0; i < cap; ++i) {
            const Slot &slot = slots[i];
            if (!slot.key) continue;
            ++occupied;
            if (slot.distance >= cap || (slot.hash % cap + slot.distance) % cap != i)
                throw_panic("RhoodMap entry is not where its home and distance say");
        }
        if (occupied != count) throw_panic("RhoodMap size disagrees with its slots");
    }
};

extern const ClassDef rhoodmap_class =
    PyClass<RhoodMap>("RhoodMap")
        .doc("---------------------------------------------------------------------------------\n"
             "Implementation of RhoodMap structure/class & related operations\n"
             "---------------------------------------------------------------------------------")
        .init<std::optional<std::uint64_t>>({"capacity"})
        .method<&RhoodMap::insert>("insert", {"key", "value"})
        .method<&RhoodMap::remove>("remove", {"key"})
        .method<&RhoodMap::get>("get", {"key"})
        .method<&RhoodMap::update>("update", {"key", "new_value"})
        .method<&RhoodMap::contains>("contains", {"key"})
        .method<&RhoodMap::from_keys>("from_keys", {"iterable"})
        .method<&RhoodMap::keys>("keys")
        .method<&RhoodMap::values>("values")
        .method<&RhoodMap::items>("items")
        .method<&RhoodMap::copy>("copy")
        .method<&RhoodMap::info>("info")
        .method<&RhoodMap::capacity>("capacity")
        .method<&RhoodMap::size>("size")
        .method<&RhoodMap::percentage>("percentage")
        .method<&RhoodMap::is_empty>("is_empty")
        .method<&RhoodMap::clear>("clear")
        .repr_mapping<&RhoodMap::items>()
        .pickle<&RhoodMap::state, &RhoodMap::from_state>()
        .contains<&RhoodMap::contains>()
        .gc<&RhoodMap::visit>()
        .iter<&RhoodMap::cursor>();

}  // namespace morvena
