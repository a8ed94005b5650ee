// VaskMap: a bounded map by bucketed cuckoo hashing. Two tables of n buckets,
// each bucket holding at most bucket_size pairs in placement order. A key lives
// in first-table bucket key_hash % n or second-table bucket key_fx_hash % n;
// `count` pairs in all, never above capacity. Invariant: a first-table pair sits
// in the bucket its stored hash names.
//
// Each pair keeps its key's full key_hash and its native key (kind and value):
// `contains` and `remove` identify a key by that native key without Python
// equality, the hash only as the cheap first test. A 64-bit hash alone is not an
// identity here: Int and Float hash their raw 64 bits, so 1.0 and the int
// 4607182418800017408 (or 1 and 5e-324) share one, and must stay separately
// reachable. The scan runs from the bucket's newest pair back, so a native key
// stored twice (a NaN is unequal to itself, so insert keeps both) is reached
// newest first and, once that one is gone, the older one. A scan of a bucket
// costs less than the equality scan `get` makes over the same pairs anyway and
// needs no memory of its own.
//
// Eviction always goes through the new key's first-table bucket: its last pair
// gives way and can only move on to its own second-table bucket. If that is full
// the two pairs would alternate until the eviction limit and end where they
// began, so the outcome is decided before anything moves: either the new key
// takes the last position and the displaced pair is appended to its second
// bucket, or the call fails with the map untouched. The displaced pair is
// already stored, so it is moved without a duplicate check and never dropped.
#include "elements.hpp"
#include "hashing/native_key.hpp"
#include "pickle.hpp"

#include <algorithm>

namespace morvena {

namespace {

constexpr std::uint64_t eviction_limit = 100;

struct Entry {
    Ref key;
    Ref value;
    std::uint64_t hash;
    bool plain;
    // The native key the pair was placed by. A Str's bytes are not copied: the key
    // object is a str held by `key`, whose cached UTF-8 form they are.
    NativeKey::Kind kind;
    std::uint64_t word;

    NativeKey native() const noexcept {
        if (kind != NativeKey::Kind::Str) return {kind, word, {}};
        Py_ssize_t size = 0;
        const char *data = PyUnicode_AsUTF8AndSize(key.get(), &size);  // cached since placement: cannot fail
        return {kind, 0, {data, static_cast<std::size_t>(size)}};
    }
};

using Bucket = std::vector<Entry>;

[[noreturn, gnu::cold, gnu::noinline]] void throw_full(std::uint64_t capacity) {
    throw_value_error("Max capacity (" + std::to_string(capacity) + ") reached! Unable to insert key-value");
}

[[noreturn, gnu::cold, gnu::noinline]] void throw_eviction_limit() {
    throw_value_error("Eviction maximum (" + std::to_string(eviction_limit) + ") reached! Unable to insert key-values");
}

[[noreturn, gnu::cold, gnu::noinline]] void throw_no_buckets(std::uint64_t capacity, std::uint64_t bucket_size) {
    throw_value_error("VaskMap of capacity " + std::to_string(capacity) + " and bucket size " +
                      std::to_string(bucket_size) + " would have no buckets");
}

void release(std::vector<Bucket> &buckets) noexcept {
    for (Bucket &bucket : buckets)
        for (Entry &entry : bucket) {
            entry.key = nullptr;
            entry.value = nullptr;
        }
}

}  // namespace

struct VaskMap {
    std::vector<Bucket> buckets;  // the first table's n buckets, then the second table's
    std::uint64_t n;
    std::uint64_t cap;
    std::uint64_t limit;  // bucket_size
    std::uint64_t count = 0;

    VaskMap(std::optional<std::uint64_t> capacity, std::optional<std::uint64_t> bucket_size)
        : cap(capacity.value_or(1024)), limit(bucket_size.value_or(4)) {
        // With no buckets every lookup would reduce its hash modulo 0. A map that
        // could never hold anything (capacity 0) is still allowed.
        if (cap > 0 && (limit == 0 || cap < limit)) throw_no_buckets(cap, limit);
        n = cap == 0 ? 0 : cap / limit;
        if (n > buckets.max_size() / 2) throw std::bad_alloc();
        buckets.resize(2 * n);
    }
    VaskMap(VaskMap &&other) noexcept
        : buckets(std::move(other.buckets)), n(other.n), cap(other.cap), limit(other.limit),
          count(std::exchange(other.count, 0)) {}
    VaskMap(const VaskMap &) = delete;
    ~VaskMap() { release(buckets); }

    static constexpr std::size_t none = SIZE_MAX;

    // The key's two buckets by index into `buckets`; `none` when there are none.
    struct Location {
        NativeKey native;
        Probe probe;
        std::size_t first, second;
    };
    struct Found {
        std::size_t bucket = none, position = 0;
        explicit operator bool() const noexcept { return bucket != none; }
    };

    Location locate(PyObject *key) const {
        NativeKey native = to_native_key(key);
        Probe probe = probe_of(key, native);
        if (n == 0) return {native, probe, none, none};
        return {native, probe, static_cast<std::size_t>(probe.hash % n),
                static_cast<std::size_t>(n + key_fx_hash(native) % n)};
    }

    // Python equality over the first bucket, then the second, each in placement
    // order; its errors propagate. The borrow flag keeps the buckets still while
    // user code runs.
    Found scan(const Location &at) const {
        for (std::size_t b : {at.first, at.second}) {
            if (b == none) break;
            const Bucket &bucket = buckets[b];
            for (std::size_t p = 0; p < bucket.size(); ++p)
                if (key_matches(bucket[p].key.get(), bucket[p].hash, bucket[p].plain, at.probe)) return {b, p};
        }
        return {};
    }

    // The newest pair placed by the key's native key, first bucket first.
    Found find_native(const Location &at) const noexcept {
        for (std::size_t b : {at.first, at.second}) {
            if (b == none) break;
            const Bucket &bucket = buckets[b];
            for (std::size_t p = bucket.size(); p-- > 0;)
                if (bucket[p].hash == at.probe.hash && same_native_key(bucket[p].native(), at.native)) return {b, p};
        }
        return {};
    }

    // The duplicate check of insert: a comparison that raises counts as unequal.
    bool holds_equal(const Location &at) const {
        for (std::size_t b : {at.first, at.second})
            for (const Entry &entry : buckets[b]) {
                try {
                    if (key_matches(entry.key.get(), entry.hash, entry.plain, at.probe)) return true;
                } catch (const PyError &) {
                    discard_python_error();
                }
            }
        return false;
    }

    // Makes room for one more pair without touching the stored ones, so the
    // commit that follows cannot fail halfway.
    void reserve_one(Bucket &bucket) const {
        if (bucket.size() < bucket.capacity()) return;
        std::uint64_t want = std::max<std::uint64_t>(4, 2 * bucket.size());
        bucket.reserve(static_cast<std::size_t>(std::min(want, limit)));
    }

    void append(Bucket &bucket, Entry entry) {
        reserve_one(bucket);
        bucket.push_back(std::move(entry));
        ++count;
    }

    bool insert(PyObject *key, Ref value) {
        if (count >= cap) throw_full(cap);
        Location at = locate(key);  // capacity above 0 means there are buckets
        if (holds_equal(at)) return false;
        Entry entry{Ref::borrow(key), std::move(value), at.probe.hash, at.probe.plain, at.native.kind, at.native.word};
        Bucket &first = buckets[at.first], &second = buckets[at.second];
        if (first.size() < limit) {
            append(first, std::move(entry));
            return true;
        }
        if (second.size() < limit) {
            append(second, std::move(entry));
            return true;
        }
        Entry &last = first.back();
        // The displaced pair moves by the native key it was placed by: converting
        // its key again could run Python code that now answers differently.
        Bucket &onward = buckets[n + key_fx_hash(last.native()) % n];
        if (onward.size() >= limit) throw_eviction_limit();
        reserve_one(onward);
        onward.push_back(std::move(last));
        last = std::move(entry);
        ++count;
        return true;
    }

    Ref remove(PyObject *key) {
        Found found = find_native(locate(key));
        if (!found) return Ref::none();
        Bucket &bucket = buckets[found.bucket];
        Entry removed = std::move(bucket[found.position]);
        bucket.erase(bucket.begin() + static_cast<std::ptrdiff_t>(found.position));
        --count;
        return std::move(removed.value);  // the key is released here, the map already whole
    }

    Ref get(PyObject *key) const {
        Found found = scan(locate(key));
        return found ? buckets[found.bucket][found.position].value.clone() : Ref::none();
    }

    bool update(PyObject *key, Ref new_value) {
        Found found = scan(locate(key));
        if (!found) return false;
        buckets[found.bucket][found.position].value = std::move(new_value);
        return true;
    }

    bool contains(PyObject *key) const { return bool(find_native(locate(key))); }

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
        for (const Bucket &bucket : buckets)
            for (const Entry &entry : bucket) list.push(get_item(entry));
        return std::move(list).finish();
    }

    Ref keys() const {
        return listing([](const Entry &entry) { return entry.key.clone(); });
    }
    Ref values() const {
        return listing([](const Entry &entry) { return entry.value.clone(); });
    }
    Ref items() const {
        return listing([](const Entry &entry) { return to_python(std::tuple(entry.key.clone(), entry.value.clone())); });
    }

    // The copy keeps every pair where it is. Re-inserting them one by one could
    // refuse a pair as a duplicate of an equal key stored under another native
    // key (1 beside 1.0), silently dropping it from the copy.
    VaskMap copy() const {
        VaskMap out(cap, limit);
        for (std::size_t b = 0; b < buckets.size(); ++b) {
            out.buckets[b].reserve(buckets[b].size());
            for (const Entry &entry : buckets[b])
                out.buckets[b].push_back(
                    Entry{entry.key.clone(), entry.value.clone(), entry.hash, entry.plain, entry.kind, entry.word});
        }
        out.count = count;
        return out;
    }

    Ref info() const {
        return make_dict({{"type", to_python(std::string_view("VaskMap"))},
                          {"capacity", to_python(cap)},
                          {"size", to_python(count)},
                          {"percentage", to_python(percentage())},
                          {"keys", keys()},
                          {"values", values()}});
    }

    std::uint64_t capacity() const { return cap; }
    std::uint64_t size() const { return count; }
    double percentage() const { return static_cast<double>(count) / static_cast<double>(cap) * 100.0; }
    bool is_empty() const { return count == 0; }

    void clear() {
        std::vector<Bucket> old(buckets.size());
        old.swap(buckets);
        count = 0;
        release(old);
    }

    Ref init_args() const { return make_tuple(to_python(cap), to_python(limit)); }

    // The settings, each pair's bucket (packed words) and the keys and values
    // in bucket order, placement order within a bucket: exactly where they are.
    Ref state() const {
        BytesBuilder placed(count * 8);
        ListBuilder keys(count), values(count);
        std::uint64_t at = 0;
        for (std::size_t b = 0; b < buckets.size(); ++b)
            for (const Entry &entry : buckets[b]) {
                store_u64(placed.data() + 8 * at++, b);
                keys.push(entry.key.clone());
                values.push(entry.value.clone());
            }
        return make_tuple(to_python(cap), to_python(limit), std::move(placed).finish(), std::move(keys).finish(),
                          std::move(values).finish());
    }

    static VaskMap from_state(const StateReader &state) {
        state.fields(5);
        VaskMap out(state.u64(0, "the capacity"), state.u64(1, "the bucket size"));
        std::string_view placed = state.bytes(2, 8, "the buckets");
        std::vector<Ref> keys = state.items(state.field(3), "the keys");
        std::vector<Ref> values = state.items(state.field(4), "the values");
        std::uint64_t n = placed.size() / 8;
        if (keys.size() != n || values.size() != n) state.invalid("the buckets, keys and values differ in number");
        if (n > out.cap) state.invalid("more pairs than the capacity");
        std::uint64_t previous = 0;
        for (std::uint64_t i = 0; i < n; ++i) {
            std::uint64_t b = load_u64(placed.data() + 8 * i);
            if (b >= out.buckets.size() || b < previous) state.invalid("the buckets must ascend below the bucket count");
            previous = b;
            Location at = out.locate(keys[i].get());
            if (b != at.first && b != at.second) state.invalid("a pair is in neither of its key's buckets");
            Bucket &bucket = out.buckets[b];
            if (bucket.size() >= out.limit) state.invalid("a bucket holds more than the bucket size");
            out.append(bucket, Entry{std::move(keys[i]), std::move(values[i]), at.probe.hash, at.probe.plain, at.native.kind,
                                     at.native.word});
        }
        return out;
    }
    void visit(Visitor &v) const {
        for (const Bucket &bucket : buckets)
            for (const Entry &entry : bucket) {
                v(entry.key);
                v(entry.value);
            }
    }
    // The keys bucket by bucket, as keys() lists them.
    struct Cursor {
        std::size_t bucket = 0;
        std::size_t position = 0;
        Ref next(const VaskMap &map) noexcept {
            for (; bucket < map.buckets.size(); ++bucket, position = 0)
                if (position < map.buckets[bucket].size()) return map.buckets[bucket][position++].key.clone();
            return {};
        }
    };
    Cursor cursor() const { return {}; }

    void check() const {
        std::uint64_t pairs = 0;
        for (std::size_t b = 0; b < buckets.size(); ++b) {
            if (buckets[b].size() > limit) throw_panic("VaskMap bucket holds more than bucket_size pairs");
            for (const Entry &entry : buckets[b]) {
                if (b < n && entry.hash % n != b) throw_panic("VaskMap pair is not in its first-table bucket");
                if (key_hash(entry.native()) != entry.hash) throw_panic("VaskMap pair's native key lost its hash");
            }
            pairs += buckets[b].size();
        }
        if (pairs != count || count > cap) throw_panic("VaskMap size disagrees with its buckets");
    }
};

extern const ClassDef vaskmap_class =
    PyClass<VaskMap>("VaskMap")
        .doc("---------------------------------------------------------------------------------\n"
             "Implementation of VaskMap structure/class & related operations\n"
             "---------------------------------------------------------------------------------")
        .init<std::optional<std::uint64_t>, std::optional<std::uint64_t>>({"capacity", "bucket_size"})
        .method<&VaskMap::insert>("insert", {"key", "value"})
        .method<&VaskMap::remove>("remove", {"key"})
        .method<&VaskMap::get>("get", {"key"})
        .method<&VaskMap::update>("update", {"key", "new_value"})
        .method<&VaskMap::contains>("contains", {"key"})
        .method<&VaskMap::from_keys>("from_keys", {"iterable"})
        .method<&VaskMap::keys>("keys")
        .method<&VaskMap::values>("values")
        .method<&VaskMap::items>("items")
        .method<&VaskMap::copy>("copy")
        .method<&VaskMap::info>("info")
        .method<&VaskMap::capacity>("capacity")
        .method<&VaskMap::size>("size")
        .method<&VaskMap::percentage>("percentage")
        .method<&VaskMap::is_empty>("is_empty")
        .method<&VaskMap::clear>("clear")
        .repr_mapping<&VaskMap::items>()
        .pickle<&VaskMap::state, &VaskMap::from_state>()
        .contains<&VaskMap::contains>()
        .gc<&VaskMap::visit>()
        .iter<&VaskMap::cursor>();

}  // namespace morvena
