// Flatlist: Python objects kept in ascending order under flat_compare, a skip
// list of sorted levels. Invariant: level 0 holds every element in the order the
// level-walking algorithms produce; an element of height h also belongs to
// levels 1..h, and those levels are level 0's elements of height >= i, in order.
//
// Layout. Only level 0 is stored, as a run of blocks of at most kMaxBlock
// elements (never an empty block); each element carries its height, so level i
// is read off level 0 by skipping lower elements. A flat array would make every
// insert a linear shift; blocks keep the shift short. Two side indexes make
// lookups logarithmic: `lasts` (each block's last key, for descending by value)
// and a Fenwick tree of block sizes (for global positions), rebuilt lazily when
// blocks split or vanish.
//
// Fast path. Two families of values are ordered by Python totally, exactly and
// without running user code: numbers (exact ints that fit 64 bits and exact
// non-NaN floats, int against float included) and exact strs. Their elements
// get a native key, and comparing keys natively answers what __lt__/__eq__/__gt__
// would. While every element inserted since the list was last empty belongs to
// one family (`family`), level 0 is sorted, and the walks of the algorithms
// reduce to binary searches over keys. Anything else makes the list `Mixed`,
// and the algorithms then run as written: the probe sequence of the insert's
// binary search over global positions, linear scans for the lookups. Both paths
// give the same level 0, positions and results.
#include "elements.hpp"
#include "pickle.hpp"
#include "random.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace morvena {

namespace {

enum class Kind : std::uint8_t { Int, Float, Str, Other };

// The families that order among themselves; None is the family of an empty list.
enum class Family : std::uint8_t { None, Numbers, Strs, Mixed };

Family family_of(Kind kind) noexcept {
    switch (kind) {
    case Kind::Int:
    case Kind::Float:
        return Family::Numbers;
    case Kind::Str:
        return Family::Strs;
    default:
        return Family::Mixed;
    }
}

struct Key {
    union {
        std::int64_t i;
        double d;
        PyObject *s;  // borrowed from the element or argument it was made from
    };
    Kind kind;
};

bool comparable(const Key &a, const Key &b) noexcept {
    Family family = family_of(a.kind);
    return family != Family::Mixed && family == family_of(b.kind);
}

Key key_of(PyObject *obj) noexcept {
    Key key;
    key.kind = Kind::Other;
    key.i = 0;
    if (PyUnicode_CheckExact(obj)) {
        key.s = obj;
        key.kind = Kind::Str;
    } else if (PyLong_CheckExact(obj)) {
        int overflow = 0;
        long long value = PyLong_AsLongLongAndOverflow(obj, &overflow);
        if (!overflow) {  // an exact int cannot fail otherwise
            key.i = value;
            key.kind = Kind::Int;
        }
    } else if (PyFloat_CheckExact(obj)) {
        double value = PyFloat_AS_DOUBLE(obj);
        // NaN is equal (by flat_compare) to everything and orders nothing.
        if (!std::isnan(value)) {
            key.d = value;
            key.kind = Kind::Float;
        }
    }
    return key;
}

// Exact order of an int and a finite-or-infinite double, as Python compares them:
// converting the int to double would round above 2^53.
int order_int_double(std::int64_t i, double d) noexcept {
    if (d >= 0x1p63) return -1;
    if (d < -0x1p63) return 1;
    double whole = std::trunc(d);
    auto whole_int = static_cast<std::int64_t>(whole);
    if (i != whole_int) return i < whole_int ? -1 : 1;
    return whole < d ? -1 : (whole > d ? 1 : 0);
}

// Three-way order of two comparable keys: negative, zero or positive.
int order(const Key &a, const Key &b) noexcept {
    // Two exact strs compare by code points and cannot fail.
    if (a.kind == Kind::Str) return PyUnicode_Compare(a.s, b.s);
    if (a.kind == Kind::Int && b.kind == Kind::Int) return (a.i > b.i) - (a.i < b.i);
    if (a.kind == Kind::Float && b.kind == Kind::Float) return (a.d > b.d) - (a.d < b.d);
    if (a.kind == Kind::Int) return order_int_double(a.i, b.d);
    return -order_int_double(b.i, a.d);
}

// One rich comparison and its truth test; an exception counts as false.
bool holds(PyObject *a, PyObject *b, int op) {
    PyObject *result = PyObject_RichCompare(a, b, op);
    if (!result) {
        discard_python_error();
        return false;
    }
    Ref owned = Ref::steal(result);
    int truth = PyObject_IsTrue(result);
    if (truth < 0) {
        discard_python_error();
        return false;
    }
    return truth != 0;
}

// The list's own order: <, then ==, then >; none holding (or all raising) is
// "equal", so it never fails.
Ordering flat_compare(PyObject *a, PyObject *b) {
    if (holds(a, b, Py_LT)) return Ordering::Less;
    if (holds(a, b, Py_EQ)) return Ordering::Equal;
    if (holds(a, b, Py_GT)) return Ordering::Greater;
    return Ordering::Equal;
}

Ordering ordering_of(int sign) noexcept {
    return sign < 0 ? Ordering::Less : (sign > 0 ? Ordering::Greater : Ordering::Equal);
}

// An element as the algorithms see it; blocks store it packed (see Block).
struct Element {
    PyObject *obj;  // owned by the block it came from
    std::int64_t bits;  // an int's value or a double's bits
    Kind kind;
    std::uint8_t height;

    static Element make(PyObject *obj, const Key &key, std::uint8_t height) noexcept {
        std::int64_t bits = key.kind == Kind::Int     ? key.i
                            : key.kind == Kind::Float ? std::bit_cast<std::int64_t>(key.d)
                                                      : 0;
        return Element{obj, bits, key.kind, height};
    }

    Key key() const noexcept {
        Key k;
        k.kind = kind;
        if (kind == Kind::Str)
            k.s = obj;
        else if (kind == Kind::Float)
            k.d = std::bit_cast<double>(bits);
        else
            k.i = bits;
        return k;
    }

    // flat_compare (this element's payload, probe).
    Ordering compare(PyObject *probe, const Key &probe_key) const {
        Key own = key();
        if (comparable(own, probe_key)) return ordering_of(order(own, probe_key));
        return flat_compare(obj, probe);
    }
    // equals (stored, probe) with an exception counting as unequal.
    bool equal(PyObject *probe, const Key &probe_key) const {
        Key own = key();
        if (comparable(own, probe_key)) return order(own, probe_key) == 0;
        return equals_or_false(obj, probe);
    }
};

// Short enough that the shift of an insert stays in the L1 cache, long enough
// that the block indexes stay small (about 5,000 blocks for a million elements).
constexpr std::size_t kMaxBlock = 256;
// A block grows by this many elements at a time rather than doubling, so its
// slack stays under one step (a few percent of a typical block); the extra
// reallocations cost one copy per step inserts, far less than the shifts.
constexpr std::size_t kGrowth = 16;

// A block owns the references of its elements, at most kMaxBlock + 1 of them
// (one over the limit until the insert that made it splits it). It keeps them
// in two parallel arrays, so that an element costs 17 bytes rather than a
// padded 24: 16 bytes of payload and key bits, which is all a binary search
// reads, the kind riding in the payload pointer's low bits (objects are at
// least 8-aligned); and one byte of height, read only by the level walks.
class Block {
public:
    Block() = default;
    Block(Block &&other) noexcept
        : cells_(std::exchange(other.cells_, nullptr)),
          heights_(std::exchange(other.heights_, nullptr)),
          size_(std::exchange(other.size_, 0)),
          capacity_(std::exchange(other.capacity_, 0)) {}
    Block &operator=(Block &&other) noexcept {
        Block old(std::move(*this));
        std::swap(cells_, other.cells_);
        std::swap(heights_, other.heights_);
        std::swap(size_, other.size_);
        std::swap(capacity_, other.capacity_);
        return *this;
    }
    ~Block() {
        for (std::size_t i = 0; i < size_; ++i) Ref released = Ref::steal(obj(i));
        std::free(cells_);
        std::free(heights_);
    }

    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }

    PyObject *obj(std::size_t i) const noexcept {
        return reinterpret_cast<PyObject *>(cells_[i].tagged & ~kind_mask);
    }
    std::uint8_t height(std::size_t i) const noexcept { return heights_[i]; }
    // Reads the 16-byte cell alone: binary searches never touch the heights.
    Key key(std::size_t i) const noexcept {
        Key k;
        k.kind = static_cast<Kind>(cells_[i].tagged & kind_mask);
        if (k.kind == Kind::Str)
            k.s = obj(i);
        else if (k.kind == Kind::Float)
            k.d = std::bit_cast<double>(cells_[i].bits);
        else
            k.i = cells_[i].bits;
        return k;
    }
    Element operator[](std::size_t i) const noexcept {
        const Cell &cell = cells_[i];
        return Element{obj(i), cell.bits, static_cast<Kind>(cell.tagged & kind_mask), heights_[i]};
    }
    Element back() const noexcept { return (*this)[size_ - 1]; }

    // Room for `total` elements: the one step that can fail, taken before any
    // change, so that the changes after it cannot.
    void reserve(std::size_t total) {
        if (total <= capacity_) return;
        std::size_t capacity = std::min((total + kGrowth - 1) / kGrowth * kGrowth, kMaxBlock + 1);
        resize_storage(std::max(capacity, total));
    }

    // Room must have been reserved.
    void insert(std::size_t at, const Element &e) noexcept {
        std::memmove(cells_ + at + 1, cells_ + at, (size_ - at) * sizeof(Cell));
        std::memmove(heights_ + at + 1, heights_ + at, size_ - at);
        put(at, e);
        ++size_;
    }
    void push_back(const Element &e) noexcept { insert(size_, e); }

    // Forgets n elements from `at` on; the caller has taken their references.
    void erase(std::size_t at, std::size_t n) noexcept {
        std::memmove(cells_ + at, cells_ + at + n, (size_ - at - n) * sizeof(Cell));
        std::memmove(heights_ + at, heights_ + at + n, size_ - at - n);
        size_ -= n;
    }

    // Forgets the elements from `n` on, whose references moved elsewhere, and
    // gives back the room they took if it can.
    void truncate(std::size_t n) noexcept {
        size_ = n;
        if (n == 0) {
            std::free(std::exchange(cells_, nullptr));
            std::free(std::exchange(heights_, nullptr));
            capacity_ = 0;
            return;
        }
        std::size_t capacity = (n + kGrowth - 1) / kGrowth * kGrowth;
        if (capacity < capacity_) {
            try {
                resize_storage(capacity);
            } catch (const std::bad_alloc &) {
                // The larger arrays serve as well.
            }
        }
    }

private:
    struct Cell {
        std::uintptr_t tagged;  // payload pointer | kind
        std::int64_t bits;
    };
    static constexpr std::uintptr_t kind_mask = 3;
    static_assert(alignof(PyObject) >= 4, "the kind rides in a payload pointer's low bits");

    void put(std::size_t at, const Element &e) noexcept {
        cells_[at] = Cell{reinterpret_cast<std::uintptr_t>(e.obj) | static_cast<std::uintptr_t>(e.kind), e.bits};
        heights_[at] = e.height;
    }

    // Should the second array fail to resize, the first keeps its new size and
    // the capacity is what both arrays then have room for.
    void resize_storage(std::size_t capacity) {
        auto *cells = static_cast<Cell *>(std::realloc(cells_, capacity * sizeof(Cell)));
        if (!cells) throw std::bad_alloc();
        cells_ = cells;
        capacity_ = static_cast<std::uint32_t>(std::min<std::size_t>(capacity_, capacity));
        auto *heights = static_cast<std::uint8_t *>(std::realloc(heights_, capacity));
        if (!heights) throw std::bad_alloc();
        heights_ = heights;
        capacity_ = static_cast<std::uint32_t>(capacity);
    }

    Cell *cells_ = nullptr;
    std::uint8_t *heights_ = nullptr;
    std::uint32_t size_ = 0;
    std::uint32_t capacity_ = 0;
};

// The first position of a block at which `before` turns false; it holds on a
// prefix of the block and nowhere after it.
template <class Before>
std::size_t partition_point(const Block &block, Before before) {
    std::size_t low = 0, n = block.size();
    while (n > 0) {
        std::size_t half = n / 2;
        if (before(low + half)) {
            low += half + 1;
            n -= half + 1;
        } else {
            n = half;
        }
    }
    return low;
}

// Block sizes as a Fenwick tree: prefix sums and "which block holds position
// i" in O(log blocks). Splits and removed blocks invalidate it; it is rebuilt on
// the next query, so inserts pay nothing for positions nobody asks for.
class BlockIndex {
public:
    void invalidate() noexcept { valid_ = false; }

    // `delta` may be a negative count wrapped to unsigned: the sums wrap back.
    void add(std::size_t block, std::uint64_t delta) noexcept {
        if (!valid_) return;
        for (std::size_t i = block + 1; i < tree_.size(); i += i & (~i + 1)) tree_[i] += delta;
    }

    // Elements in the blocks before `block`.
    std::uint64_t before(const std::vector<Block> &blocks, std::size_t block) {
        refresh(blocks);
        std::uint64_t sum = 0;
        for (std::size_t i = block; i > 0; i -= i & (~i + 1)) sum += tree_[i];
        return sum;
    }

    // The block holding global position `pos` (< size) and the offset in it.
    std::pair<std::size_t, std::size_t> locate(const std::vector<Block> &blocks, std::uint64_t pos) {
        refresh(blocks);
        std::size_t block = 0;
        std::size_t step = std::bit_floor(tree_.size());
        for (; step > 0; step >>= 1) {
            std::size_t next = block + step;
            if (next < tree_.size() && tree_[next] <= pos) {
                block = next;
                pos -= tree_[next];
            }
        }
        return {block, static_cast<std::size_t>(pos)};
    }

private:
    void refresh(const std::vector<Block> &blocks) {
        if (valid_) return;
        tree_.assign(blocks.size() + 1, 0);
        for (std::size_t i = 1; i <= blocks.size(); ++i) {
            tree_[i] += blocks[i - 1].size();
            std::size_t parent = i + (i & (~i + 1));
            if (parent <= blocks.size()) tree_[parent] += tree_[i];
        }
        valid_ = true;
    }

    std::vector<std::uint64_t> tree_;
    bool valid_ = false;
};

// Heights only decide which of several equal payloads `get` finds; capping them
// keeps an element's height in one byte and the draw loop short when p is close
// to 1, and reaching the cap by chance needs 255 successive promotions.
constexpr std::uint64_t kMaxHeight = 255;

[[noreturn, gnu::cold]] void throw_no_levels() {
    throw_value_error("Flatlist has no levels (num_list is 0), so it cannot hold elements");
}

[[noreturn, gnu::cold]] void throw_bad_probability(double probability) {
    char *text = PyOS_double_to_string(probability, 'r', 0, Py_DTSF_ADD_DOT_0, nullptr);
    if (!text) throw_python_error();
    std::string shown(text);
    PyMem_Free(text);
    throw_value_error("Flatlist probability must be between 0 and 1 to draw a height, got " + shown);
}

}  // namespace

struct Flatlist {
    std::vector<Block> blocks;
    std::vector<Key> lasts;  // lasts[b] is the key of blocks[b]'s last element
    mutable BlockIndex index;  // a cache of block sizes, refreshed by readers too
    std::uint64_t count = 0;
    std::uint64_t num_list;
    double probability;
    Family family = Family::None;  // of every element since the list was last empty
    std::uint8_t top_level = 0;  // no element is higher than this

    Flatlist(std::optional<std::uint64_t> num_list_arg, std::optional<double> probability_arg)
        : num_list(num_list_arg.value_or(4)), probability(probability_arg.value_or(0.5)) {}

    // ---- checks ------------------------------------------------------------

    void need_levels() const {
        if (num_list == 0) throw_no_levels();
    }

    // Everything an insert can refuse, checked before anything changes.
    void check_insertable() const {
        need_levels();
        if (num_list >= 2 && probability != 1.0 && !(probability >= 0.0 && probability < 1.0))
            throw_bad_probability(probability);
    }

    std::uint8_t draw_height() const {
        if (num_list == 1) return 0;
        std::uint64_t cap = std::min(num_list - 1, kMaxHeight);
        if (probability == 1.0) return static_cast<std::uint8_t>(cap);
        auto threshold = static_cast<std::uint64_t>(probability * 0x1p64);
        Random &random = thread_random();
        std::uint64_t height = 0;
        while (height < cap && random.next_u64() < threshold) ++height;
        return static_cast<std::uint8_t>(height);
    }

    // ---- positions -----------------------------------------------------------

    // Whether level 0 is sorted in an order `key` takes part in.
    bool sorted_for(const Key &key) const noexcept {
        Family joined = family_of(key.kind);
        return joined != Family::Mixed && (family == joined || family == Family::None);
    }

    Element at(std::size_t block, std::size_t offset) const { return blocks[block][offset]; }

    // The first block whose last key is greater than (upper) or not less than
    // (!upper) `key`; blocks.size() when there is none. Only for sorted lists.
    std::size_t block_for(const Key &key, bool upper) const {
        auto it = upper ? std::upper_bound(lasts.begin(), lasts.end(), key,
                                           [](const Key &k, const Key &last) { return order(k, last) < 0; })
                        : std::lower_bound(lasts.begin(), lasts.end(), key,
                                           [](const Key &last, const Key &k) { return order(last, k) < 0; });
        return static_cast<std::size_t>(it - lasts.begin());
    }

    // Where the first element not less than `key` sits (sorted lists).
    std::pair<std::size_t, std::size_t> lower_bound(const Key &key) const {
        std::size_t b = block_for(key, false);
        if (b == blocks.size()) return {b, 0};
        const Block &block = blocks[b];
        return {b, partition_point(block, [&](std::size_t i) { return order(block.key(i), key) < 0; })};
    }

    // The insert's binary search, for a sorted list and a key of its family. Over a
    // sorted level it lands on the last element not greater than the payload;
    // the payload goes before that element when it is equal, else after it.
    std::pair<std::size_t, std::size_t> sorted_position(const Key &key) const {
        std::size_t b = std::min(block_for(key, true), blocks.size() - 1);
        const Block &block = blocks[b];
        std::size_t offset = partition_point(block, [&](std::size_t i) { return order(key, block.key(i)) >= 0; });
        if (offset > 0) {
            if (order(block.key(offset - 1), key) == 0) --offset;
        } else if (b > 0 && order(lasts[b - 1], key) == 0) {
            return {b - 1, blocks[b - 1].size() - 1};
        }
        return {b, offset};
    }

    // The insert's binary search as written, over global positions of level 0,
    // for lists where the order may be anything the elements make of it.
    std::uint64_t searched_position(PyObject *payload, const Key &key) const {
        std::uint64_t size = count, base = 0;
        auto compare_at = [&](std::uint64_t pos) {
            auto [b, offset] = index.locate(blocks, pos);
            return at(b, offset).compare(payload, key);
        };
        while (size > 1) {
            std::uint64_t half = size / 2, mid = base + half;
            if (compare_at(mid) != Ordering::Greater) base = mid;
            size -= half;
        }
        return compare_at(base) == Ordering::Less ? base + 1 : base;
    }

    // ---- changes -------------------------------------------------------------

    // Stores the element and hands it the reference held by `owned`.
    void place(std::size_t b, std::size_t offset, Element element, Ref &owned) {
        Block &block = blocks[b];
        block.reserve(block.size() + 1);
        block.insert(offset, element);
        (void)owned.release();
        ++count;
        index.add(b, 1);
        lasts[b] = block.back().key();
        if (block.size() > kMaxBlock) split(b);
    }

    void split(std::size_t b) {
        // Every allocation comes first, so a failing one leaves a block that is
        // merely one element too long.
        blocks.reserve(blocks.size() + 1);
        lasts.reserve(lasts.size() + 1);
        Block upper;
        Block &lower = blocks[b];
        upper.reserve(lower.size() - kMaxBlock / 2);
        for (std::size_t i = kMaxBlock / 2; i < lower.size(); ++i) upper.push_back(lower[i]);
        lower.truncate(kMaxBlock / 2);  // the references moved with the copies
        blocks.insert(blocks.begin() + static_cast<std::ptrdiff_t>(b) + 1, std::move(upper));
        lasts[b] = blocks[b].back().key();
        lasts.insert(lasts.begin() + static_cast<std::ptrdiff_t>(b) + 1, blocks[b + 1].back().key());
        index.invalidate();
    }

    // Takes `n` elements out of block b from `offset` on; their references move
    // into `out`, released by the caller once the list is consistent again.
    void take(std::size_t b, std::size_t offset, std::size_t n, std::vector<Ref> &out) {
        Block &block = blocks[b];
        out.reserve(out.size() + n);
        for (std::size_t i = offset; i < offset + n; ++i) out.push_back(Ref::steal(block.obj(i)));
        block.erase(offset, n);
        count -= n;
        if (block.empty()) {
            blocks.erase(blocks.begin() + static_cast<std::ptrdiff_t>(b));
            lasts.erase(lasts.begin() + static_cast<std::ptrdiff_t>(b));
            index.invalidate();
        } else {
            lasts[b] = block.back().key();
            index.add(b, 0 - static_cast<std::uint64_t>(n));
        }
        if (count == 0) {
            family = Family::None;
            top_level = 0;
        }
    }

    Ref take_one(std::size_t b, std::size_t offset) {
        std::vector<Ref> out;
        take(b, offset, 1, out);
        return std::move(out.front());
    }

    void insert_checked(PyObject *payload) {
        Ref owned = Ref::borrow(payload);
        Key key = key_of(payload);
        std::uint8_t height = draw_height();
        Element element = Element::make(payload, key, height);
        if (blocks.empty()) {
            Block first;
            first.reserve(1);
            lasts.reserve(1);
            blocks.push_back(std::move(first));
            lasts.push_back(key);
            index.invalidate();
            place(0, 0, element, owned);
        } else if (sorted_for(key)) {
            auto [b, offset] = sorted_position(key);
            place(b, offset, element, owned);
        } else {
            std::uint64_t pos = searched_position(payload, key);
            auto [b, offset] = pos == count ? std::pair{blocks.size() - 1, blocks.back().size()}
                                            : index.locate(blocks, pos);
            place(b, offset, element, owned);
        }
        Family joined = family_of(key.kind);
        if (family == Family::None)
            family = joined;
        else if (family != joined)
            family = Family::Mixed;
        top_level = std::max(top_level, height);
    }

    // ---- Python methods ------------------------------------------------------

    bool insert(PyObject *payload) {
        check_insertable();
        insert_checked(payload);
        return true;
    }

    Ref remove(PyObject *key_obj) {
        Key key = key_of(key_obj);
        std::vector<Ref> removed;
        if (sorted_for(key)) {
            auto [b, offset] = lower_bound(key);
            while (b < blocks.size()) {
                const Block &block = blocks[b];
                std::size_t end = offset;
                while (end < block.size() && order(block.key(end), key) == 0) ++end;
                if (end == offset) break;
                bool to_block_end = end == block.size();
                std::size_t blocks_before = blocks.size();
                take(b, offset, end - offset, removed);
                if (!to_block_end) break;
                // The run may go on in the next block: at b if block b is gone.
                if (blocks.size() == blocks_before) ++b;
                offset = 0;
            }
        } else {
            // Every equality test runs before anything is taken out: user code
            // may raise an abort midway, and the list must then be untouched.
            std::vector<std::vector<bool>> matches(blocks.size());
            bool any = false;
            for (std::size_t b = 0; b < blocks.size(); ++b) {
                const Block &block = blocks[b];
                matches[b].resize(block.size());
                for (std::size_t i = 0; i < block.size(); ++i) {
                    bool match = block[i].equal(key_obj, key);
                    matches[b][i] = match;
                    any = any || match;
                }
            }
            if (any) remove_matches(matches, removed);
        }
        if (removed.empty()) throw_value_error("No value with key " + element_text(key_obj) + " found in list!");
        Ref last = std::move(removed.back());
        removed.pop_back();
        return last;
    }

    void remove_matches(const std::vector<std::vector<bool>> &matches, std::vector<Ref> &removed) {
        // Every allocation is made before the first reference changes hands.
        std::vector<Block> kept(blocks.size());
        std::vector<Key> kept_lasts;
        kept_lasts.reserve(blocks.size());
        removed.reserve(count);
        for (std::size_t b = 0; b < blocks.size(); ++b) kept[b].reserve(blocks[b].size());
        std::size_t next = 0;
        for (std::size_t b = 0; b < blocks.size(); ++b) {
            // Filling kept[next] from blocks[b] with next <= b needs no more room
            // than blocks[b] had, which kept[b] reserved; kept[next] may have less,
            // so it is given the larger reservation first.
            if (next != b) std::swap(kept[next], kept[b]);
            Block &block = kept[next];
            for (std::size_t i = 0; i < blocks[b].size(); ++i) {
                Element e = blocks[b][i];
                if (matches[b][i])
                    removed.push_back(Ref::steal(e.obj));
                else
                    block.push_back(e);
            }
            blocks[b].truncate(0);  // every reference now lives in `block` or `removed`
            if (!block.empty()) {
                kept_lasts.push_back(block.back().key());
                ++next;
            }
        }
        kept.resize(next);
        count -= removed.size();
        blocks = std::move(kept);
        lasts = std::move(kept_lasts);
        index.invalidate();
        if (count == 0) {
            family = Family::None;
            top_level = 0;
        }
    }

    // The walk from the top level down: at each level the first element not
    // less than the key ends the level, and an equal one ends the search.
    PyObject *find(PyObject *key_obj) const {
        Key key = key_of(key_obj);
        if (sorted_for(key)) {
            // Level i's first element not less than the key is the first element
            // of height >= i from the lower bound on, so the walk finds the first
            // of the highest elements in the run of equal keys.
            auto [b, offset] = lower_bound(key);
            PyObject *found = nullptr;
            int found_height = -1;
            for (; b < blocks.size(); ++b, offset = 0) {
                const Block &block = blocks[b];
                for (; offset < block.size(); ++offset) {
                    if (order(block.key(offset), key) != 0) return found;
                    if (block.height(offset) > found_height) {
                        found = block.obj(offset);
                        found_height = block.height(offset);
                    }
                }
            }
            return found;
        }
        for (int level = top_level; level >= 0; --level) {
            bool stopped = false;
            for (const Block &block : blocks) {
                for (std::size_t i = 0; i < block.size(); ++i) {
                    if (block.height(i) < level) continue;
                    Ordering c = block[i].compare(key_obj, key);
                    if (c == Ordering::Less) continue;
                    if (c == Ordering::Equal) return block.obj(i);
                    stopped = true;
                    break;
                }
                if (stopped) break;
            }
        }
        return nullptr;
    }

    bool contains(PyObject *key) const { return find(key) != nullptr; }

    Ref get(PyObject *key) const {
        PyObject *found = find(key);
        return found ? Ref::borrow(found) : Ref::none();
    }

    bool update(PyObject *key, PyObject *new_value) {
        check_insertable();
        try {
            remove(key);
        } catch (const Error &) {
            // A key that is not there still lets the new value in.
        }
        insert_checked(new_value);
        return true;
    }

    bool extend(std::vector<Ref> items) {
        if (!items.empty()) check_insertable();
        for (const Ref &item : items) insert_checked(item.get());
        return true;
    }

    std::uint64_t index_of(PyObject *key_obj) const {
        need_levels();
        Key key = key_of(key_obj);
        if (sorted_for(key)) {
            auto [b, offset] = lower_bound(key);
            if (b < blocks.size() && order(at(b, offset).key(), key) == 0) return index.before(blocks, b) + offset;
        } else {
            std::uint64_t pos = 0;
            for (const Block &block : blocks)
                for (std::size_t i = 0; i < block.size(); ++i, ++pos)
                    if (block[i].equal(key_obj, key)) return pos;
        }
        throw_value_error("No node with value " + element_text(key_obj) + " found in Flatlist!");
    }

    Ref to_list() const {
        ListBuilder list(count);
        for (const Block &block : blocks)
            for (std::size_t i = 0; i < block.size(); ++i) list.push_borrowed(block.obj(i));
        return std::move(list).finish();
    }

    Ref peek_first() const {
        need_levels();
        if (count == 0) throw_value_error("No first value found in Flatlist!");
        return Ref::borrow(blocks.front().obj(0));
    }

    Ref peek_last() const {
        need_levels();
        if (count == 0) throw_value_error("No last value found in Flatlist!");
        return Ref::borrow(blocks.back().back().obj);
    }

    Ref pop_first() {
        need_levels();
        if (count == 0) throw_value_error("No nodes currently present in Flatlist!");
        return take_one(0, 0);
    }

    Ref pop_last() {
        need_levels();
        if (count == 0) throw_value_error("No nodes currently present in Flatlist!");
        return take_one(blocks.size() - 1, blocks.back().size() - 1);
    }

    bool merge(Shared<Flatlist> other) {
        need_levels();
        other->need_levels();
        if (other->count == 0) return true;
        check_insertable();
        for (const Block &block : other->blocks)
            for (std::size_t i = 0; i < block.size(); ++i) insert_checked(block.obj(i));
        return true;
    }

    std::uint64_t size() const {
        need_levels();
        return count;
    }

    bool is_empty() const {
        need_levels();
        return count == 0;
    }

    void clear() {
        // Detach first: releasing the payloads may run finalisers.
        auto old = std::exchange(blocks, {});
        lasts.clear();
        index.invalidate();
        count = 0;
        family = Family::None;
        top_level = 0;
    }

    Ref init_args() const { return make_tuple(to_python(num_list), to_python(probability)); }

    // The settings, the family and top level, level 0 in order and each
    // element's height (one byte each): the levels decide which of several
    // equal payloads a lookup finds, so they travel exactly.
    Ref state() const {
        BytesBuilder heights(count);
        std::uint64_t at = 0;
        for (const Block &block : blocks)
            for (std::size_t i = 0; i < block.size(); ++i) heights.data()[at++] = static_cast<char>(block.height(i));
        return make_tuple(to_python(num_list), to_python(probability),
                          to_python(static_cast<std::uint64_t>(family)), to_python(std::uint64_t{top_level}),
                          to_list(), std::move(heights).finish());
    }

    static Flatlist from_state(const StateReader &state) {
        state.fields(6);
        Flatlist out(state.u64(0, "the level count"), state.real(1, "the probability"));
        std::uint64_t family = state.u64(2, "the family");
        std::uint64_t top = state.u64(3, "the top level");
        List items = state.list(4, "the elements");
        std::string_view heights = state.bytes(5, 1, "the heights");
        auto n = static_cast<std::uint64_t>(items.size());
        if (heights.size() != n) state.invalid("the elements and heights differ in number");
        if (family > static_cast<std::uint64_t>(Family::Mixed)) state.invalid("unknown family");
        // Heights are drawn below the level count; an empty list has no family.
        std::uint64_t highest = out.num_list == 0 ? 0 : std::min(out.num_list - 1, kMaxHeight);
        if (out.num_list == 0 && n != 0) state.invalid("a list without levels holds elements");
        if (top > highest || (n == 0 && (top != 0 || family != 0)) || (n != 0 && family == 0))
            state.invalid("the family or top level does not fit the elements");
        out.family = static_cast<Family>(family);
        out.top_level = static_cast<std::uint8_t>(top);
        // Reading the list and making keys runs no Python code.
        std::optional<Key> previous;
        for (std::uint64_t i = 0; i < n; ++i) {
            PyObject *obj = items[static_cast<Py_ssize_t>(i)];
            auto height = static_cast<std::uint8_t>(heights[i]);
            if (height > top) state.invalid("an element is above the top level");
            Key key = key_of(obj);
            if (out.family != Family::Mixed) {
                if (family_of(key.kind) != out.family) state.invalid("an element is outside the list's family");
                if (previous && order(*previous, key) > 0) state.invalid("the elements are not in order");
                previous = key;
            }
            if (out.blocks.empty() || out.blocks.back().size() == kMaxBlock / 2) {
                out.blocks.emplace_back();
                out.blocks.back().reserve(kMaxBlock / 2);
            }
            out.blocks.back().push_back(Element::make(Ref::borrow(obj).release(), key, height));
        }
        for (const Block &block : out.blocks) out.lasts.push_back(block.back().key());
        out.count = n;
        out.index.invalidate();
        return out;
    }
    void visit(Visitor &v) const {
        for (const Block &block : blocks)
            for (std::size_t i = 0; i < block.size(); ++i) v(block.obj(i));
    }
    // Level 0 in order, as to_list gives it.
    struct Cursor {
        std::size_t block = 0;
        std::size_t offset = 0;
        Ref next(const Flatlist &list) noexcept {
            for (; block < list.blocks.size(); ++block, offset = 0)
                if (offset < list.blocks[block].size()) return Ref::borrow(list.blocks[block].obj(offset++));
            return {};
        }
    };
    Cursor cursor() const { return {}; }

    void check() const {
        std::uint64_t total = 0;
        if (lasts.size() != blocks.size()) throw_panic("Flatlist block keys out of step");
        std::optional<Key> previous;
        for (std::size_t b = 0; b < blocks.size(); ++b) {
            const Block &block = blocks[b];
            if (block.empty() || block.size() > kMaxBlock) throw_panic("Flatlist block size out of range");
            Key last = block.back().key();
            if (lasts[b].kind != last.kind || (comparable(last, last) && order(lasts[b], last) != 0))
                throw_panic("Flatlist block key is stale");
            for (std::size_t i = 0; i < block.size(); ++i) {
                Element e = block[i];
                if (e.height > top_level) throw_panic("Flatlist element above the top level");
                if (family != Family::Mixed) {
                    Key key = e.key();
                    if (family_of(key.kind) != family) throw_panic("Flatlist holds an element outside its family");
                    if (previous && order(*previous, key) > 0) throw_panic("Flatlist level 0 out of order");
                    previous = key;
                }
            }
            total += block.size();
        }
        if (total != count) throw_panic("Flatlist count disagrees with its blocks");
    }
};

extern const ClassDef flatlist_class = PyClass<Flatlist>("Flatlist")
                                           .init<std::optional<std::uint64_t>, std::optional<double>>(
                                               {"num_list", "probability"})
                                           .method<&Flatlist::insert>("insert", {"payload"})
                                           .method<&Flatlist::remove>("remove", {"key"})
                                           .method<&Flatlist::contains>("contains", {"key"})
                                           .method<&Flatlist::get>("get", {"key"})
                                           .method<&Flatlist::update>("update", {"key", "new_value"})
                                           .method<&Flatlist::extend>("extend", {"items"})
                                           .method<&Flatlist::index_of>("index_of", {"key"})
                                           .method<&Flatlist::to_list>("to_list")
                                           .method<&Flatlist::peek_first>("peek_first")
                                           .method<&Flatlist::peek_last>("peek_last")
                                           .method<&Flatlist::pop_first>("pop_first")
                                           .method<&Flatlist::pop_last>("pop_last")
                                           .method<&Flatlist::merge>("merge", {"other"})
                                           .method<&Flatlist::size>("size")
                                           .method<&Flatlist::is_empty>("is_empty")
                                           .method<&Flatlist::clear>("clear")
                                           .repr<&Flatlist::to_list>()
                                           .pickle<&Flatlist::state, &Flatlist::from_state>()
                                           .contains<&Flatlist::contains>()
                                           .gc<&Flatlist::visit>()
                                           .iter<&Flatlist::cursor>();

}  // namespace morvena
