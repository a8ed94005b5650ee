// Trie: a prefix tree of Python strs, one edge per code point. A node that ends
// an inserted word holds that str object. Invariants: every node's children are
// sorted by code point (so every listing has one deterministic order), every
// leaf ends a word, `node_count` counts the nodes below the root.
//
// The children of one node form a group: one run of 32-bit cells in a single
// arena holding their code points, then their own child groups' offsets, then
// their word slots. A lookup step reads one group, whose code points and child
// offsets share a cache line or two, instead of chasing a pointer per node; the
// whole trie is one block, so it also costs few TLB entries. Every group records
// the group of its parent node, which lets removal climb back without a path.
#include "elements.hpp"
#include "pickle.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>
#include <vector>

#include <sys/mman.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace morvena {

namespace {

using Cell = std::uint32_t;

// The arena's memory: past a couple of megabytes it is asked for in huge pages,
// as a walk through a large trie touches a new page at nearly every step and
// would otherwise spend much of its time on TLB misses.
template <class T>
struct ArenaAllocator {
    using value_type = T;
    static constexpr std::size_t huge = std::size_t{1} << 21;

    ArenaAllocator() noexcept = default;
    template <class U>
    ArenaAllocator(const ArenaAllocator<U> &) noexcept {}

    T *allocate(std::size_t n) {
        std::size_t bytes = n * sizeof(T);
        if (bytes < huge) return static_cast<T *>(::operator new(bytes));
        void *p = std::aligned_alloc(huge, (bytes + huge - 1) & ~(huge - 1));
        if (!p) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
        madvise(p, (bytes + huge - 1) & ~(huge - 1), MADV_HUGEPAGE);
#endif
        return static_cast<T *>(p);
    }
    void deallocate(T *p, std::size_t n) noexcept {
        if (n * sizeof(T) < huge) ::operator delete(p); else std::free(p);
    }
    bool operator==(const ArenaAllocator &) const noexcept { return true; }
};

// A node is the slot of its group that holds its edge; group 0 is "no node".
struct Pos {
    Cell group = 0;
    Cell slot = 0;
    explicit operator bool() const noexcept { return group != 0; }
    bool operator==(const Pos &) const = default;
};

// A group's header is two cells: its size (the child count in the low 24 bits,
// log2 of the capacity above them, which one load reads together) and the
// group holding its parent node (for a freed group, the next free one). The
// three arrays of `capacity` cells each follow. Small groups are the bulk of a
// large trie, so every header cell saved keeps more of it in the caches.
constexpr Cell SIZE = 0, PARENT = 1, HEADER = 2;
constexpr Cell COUNT_BITS = 24, COUNT_MASK = (Cell{1} << COUNT_BITS) - 1;
// The root is the only slot of a pseudo-group at offset 1 (offset 0 means none),
// so the root's children are found like any node's.
constexpr Cell ROOT_GROUP = 1;
constexpr Cell ROOT_SIZE = 1;  // one slot of capacity 1
constexpr Pos ROOT{ROOT_GROUP, 0};
constexpr std::size_t NO_SLOT = ~std::size_t{0};

constexpr std::size_t group_cells(Cell capacity) noexcept { return HEADER + 3 * std::size_t{capacity}; }

// A str argument seen as code points. Only str (and subclasses) is a word, and
// lone surrogates get the interpreter's own UnicodeEncodeError, as they would
// from any other text argument of the module.
class Text {
public:
    explicit Text(PyObject *obj) {
        if (!PyUnicode_Check(obj)) throw_value_error("Trie class only supports Strings");
        if (PyUnicode_READY(obj) < 0) throw_python_error();
        kind_ = PyUnicode_KIND(obj);
        data_ = PyUnicode_DATA(obj);
        length_ = PyUnicode_GET_LENGTH(obj);
        if (kind_ != PyUnicode_1BYTE_KIND)
            for (Py_ssize_t i = 0; i < length_; ++i)
                if (Py_UNICODE_IS_SURROGATE((*this)[i])) {
                    PyUnicode_AsUTF8AndSize(obj, nullptr);
                    throw_python_error();
                }
    }
    Py_ssize_t size() const noexcept { return length_; }
    Py_UCS4 operator[](Py_ssize_t i) const noexcept { return PyUnicode_READ(kind_, data_, i); }

    // Runs f on the code units as a typed array, so a loop over them is
    // compiled once per width instead of testing the width at every character.
    template <class F>
    decltype(auto) visit(F &&f) const {
        switch (kind_) {
            case PyUnicode_1BYTE_KIND: return f(static_cast<const Py_UCS1 *>(data_), length_);
            case PyUnicode_2BYTE_KIND: return f(static_cast<const Py_UCS2 *>(data_), length_);
            default: return f(static_cast<const Py_UCS4 *>(data_), length_);
        }
    }

private:
    int kind_;
    const void *data_;
    Py_ssize_t length_;
};

constexpr std::string_view no_elements = "No elements currently available in Trie structure";
constexpr std::string_view no_keys = "No keys currently available in Trie's root node";
constexpr std::string_view no_prefix = "Prefix not present in Trie structure";

}  // namespace

struct Trie {
    // The arena of groups. Offset 0 is never a group, so 0 means "no children".
    std::vector<Cell, ArenaAllocator<Cell>> cells{0, ROOT_SIZE, 0, 0, 0, 0};
    // Freed groups by log2 of their capacity, each chained through its parent cell.
    std::array<Cell, 32> free_groups{};
    // A word end's slot holds its str; slot 0 stays empty and means "no word".
    std::vector<Ref> word_refs = std::vector<Ref>(1);
    std::vector<Cell> free_words;
    std::uint64_t word_count = 0;
    std::uint64_t node_count = 0;

    Trie() = default;
    Trie(Trie &&) noexcept = default;
    Trie &operator=(Trie &&) noexcept = default;

    void insert(PyObject *value) {
        Text text(value);
        Py_ssize_t matched = 0;
        Pos node = deepest(text, matched);
        Cell slot = matched == text.size() ? word_slot(node) : 0;
        // The root never ends a word: the empty string is counted, not stored.
        if (slot || (node == ROOT && matched == text.size())) {
            if (slot) word_refs[slot] = Ref::borrow(value);
            ++word_count;
            return;
        }
        slot = take_word_slot();
        if (matched < text.size()) {
            try {
                node = graft(node, text, matched);
            } catch (...) {
                give_back_word_slot(slot);
                throw;
            }
        }
        cells[word_at(node)] = slot;
        word_refs[slot] = Ref::borrow(value);
        ++word_count;
    }

    void remove(PyObject *word) {
        if (node_count == 0) throw_value_error(no_elements);
        Pos node = walk(Text(word));
        Cell slot = node ? word_slot(node) : 0;
        if (!slot) throw_value_error("Word not found in Trie structure");
        free_words.push_back(slot);  // the one step that may fail, so it comes first
        Ref released = std::move(word_refs[slot]);
        cells[word_at(node)] = 0;
        --word_count;
        // Climb while the node would be a childless non-word; the highest such
        // node is cut from its parent with the chain of single children below it.
        Pos cut;
        for (Pos n = node; n != ROOT && !word_slot(n) && children(n) <= (cut ? 1u : 0u); n = up(n.group)) {
            cut = n;
            --node_count;
        }
        if (!cut) return;
        for (Cell g = kid(cut); g;) {
            Cell next = cells[kid_at({g, 0})];
            free_group(g);
            g = next;
        }
        close_slot(cut);
    }

    bool contains(PyObject *value) const {
        Pos node = walk(Text(value));
        return node && word_slot(node);
    }

    bool starts_with(PyObject *prefix) const { return bool(walk(Text(prefix))); }

    Ref prefixed(PyObject *prefix) const {
        Text text(prefix);
        if (node_count == 0) throw_value_error(no_elements);
        Pos start = walk(text);
        if (!start) throw_value_error(no_prefix);
        return words_below(start);
    }

    Ref words() const {
        if (node_count == 0) throw_value_error(no_elements);
        return words_below(ROOT);
    }

    void extend(List items) {
        // insert runs no Python code, but the length is re-read all the same,
        // so the loop is safe whatever the list does.
        for (Py_ssize_t i = 0; i < items.size(); ++i) {
            Ref item = Ref::borrow(items[i]);
            insert(item.get());
        }
    }

    Ref get_prefixes(PyObject *word) const {
        Text text(word);
        if (node_count == 0) throw_value_error(no_keys);
        std::vector<PyObject *> found;
        Pos node = ROOT;
        for (Py_ssize_t i = 0; i < text.size(); ++i) {
            if (PyObject *w = word_of(node)) found.push_back(w);
            Cell g = kid(node);
            std::size_t at = g ? find(g, text[i]) : NO_SLOT;
            if (at == NO_SLOT) throw_value_error(no_prefix);
            node = {g, static_cast<Cell>(at)};
        }
        return element_list(found.size(), found, [](PyObject *w) { return w; });
    }

    std::uint64_t prefix_count(PyObject *prefix) const {
        Text text(prefix);
        if (node_count == 0) throw_value_error(no_keys);
        Pos start = walk(text);
        if (!start) throw_value_error(no_prefix);
        std::uint64_t count = 0;
        each_word_below(start, [&](PyObject *) { ++count; });
        return count;
    }

    Ref base_keys() const {
        if (node_count == 0) throw_value_error(no_keys);
        Cell g = kid(ROOT);
        Cell n = g ? count(g) : 0;
        ListBuilder list(n);
        for (Cell i = 0; i < n; ++i)
            list.push(checked(PyUnicode_FromOrdinal(static_cast<int>(cells[char_at({g, i})]))));
        return std::move(list).finish();
    }

    std::uint64_t node_size() const { return node_count; }
    std::uint64_t word_size() const { return word_count; }
    bool is_empty() const { return node_count == 0; }

    // Inserting every word again would rebuild exactly these nodes (every leaf
    // ends a word), so the arena is copied as it is; word_count becomes the
    // number of distinct words, as those insertions would make it.
    Trie copy() const {
        if (node_count == 0) throw_value_error(no_elements);
        Trie out;
        out.cells = cells;
        out.free_groups = free_groups;
        out.free_words = free_words;
        out.word_refs.clear();
        out.word_refs.reserve(word_refs.size());
        for (const Ref &w : word_refs) {
            out.word_refs.push_back(w.clone());
            if (w) ++out.word_count;
        }
        out.node_count = node_count;
        return out;
    }

    void clear() {
        // Detach first: the released words' finalisers may run Python code.
        Trie old = std::exchange(*this, Trie());
    }

    // The stored word objects in listing order and the insertion count. The
    // nodes follow from the words (every leaf ends one), so only they travel.
    Ref state() const { return make_tuple(words_below(ROOT), to_python(word_count)); }

    static Trie from_state(const StateReader &state) {
        state.fields(2);
        List words = state.list(0, "the words");
        std::uint64_t count = state.u64(1, "the word count");
        if (count < static_cast<std::uint64_t>(words.size())) state.invalid("fewer words counted than stored");
        Trie out;
        // Inserting runs no Python code, so the list is read in place.
        for (Py_ssize_t i = 0; i < words.size(); ++i) {
            PyObject *word = words[i];
            if (!PyUnicode_Check(word)) state.text(word, "a word");  // raises the TypeError
            if (PyUnicode_GET_LENGTH(word) == 0) state.invalid("the empty string is never stored");
            if (out.contains(word)) state.invalid("a word is stored twice");
            out.insert(word);
        }
        out.word_count = count;
        return out;
    }

    void visit(Visitor &v) const {
        for (const Ref &word : word_refs) v(word);  // free word slots are empty and skipped
    }

    // The words as words() lists them: depth first in code-point order, the
    // stack holding the nodes still to be read.
    struct Cursor {
        std::vector<Pos> pending;
        Ref next(const Trie &trie) {
            while (!pending.empty()) {
                Pos node = pending.back();
                pending.pop_back();
                if (Cell g = trie.kid(node))
                    for (Cell i = trie.count(g); i > 0; --i) pending.push_back({g, i - 1});
                if (PyObject *word = trie.word_of(node)) return Ref::borrow(word);
            }
            return {};
        }
    };
    Cursor cursor() const { return {{ROOT}}; }

    void check() const {
        if (word_slot(ROOT)) throw_panic("the trie's root ends a word");
        std::uint64_t nodes = 0;
        std::vector<Pos> stack{ROOT};
        while (!stack.empty()) {
            Pos node = stack.back();
            stack.pop_back();
            Cell g = kid(node);
            if (word_slot(node) && !word_of(node)) throw_panic("trie word slot without its word");
            if (!g) {
                if (node != ROOT && !word_slot(node)) throw_panic("trie leaf that ends no word");
                continue;
            }
            Cell n = count(g);
            if (n == 0 || n > capacity(g)) throw_panic("trie group size broken");
            if (cells[g + PARENT] != node.group) throw_panic("trie child links broken");
            for (Cell i = 0; i < n; ++i) {
                if (i > 0 && cells[char_at({g, i - 1})] >= cells[char_at({g, i})])
                    throw_panic("trie children out of order");
                ++nodes;
                stack.push_back({g, i});
            }
        }
        if (nodes != node_count) throw_panic("trie node count disagrees with its nodes");
    }

private:
    // Cell offsets of a node's edge, child group and word slot.
    Cell char_at(Pos p) const noexcept { return p.group + HEADER + p.slot; }
    Cell kid_at(Pos p) const noexcept { return char_at(p) + capacity(p.group); }
    Cell word_at(Pos p) const noexcept { return kid_at(p) + capacity(p.group); }

    Cell count(Cell g) const noexcept { return cells[g + SIZE] & COUNT_MASK; }
    Cell capacity(Cell g) const noexcept { return Cell{1} << (cells[g + SIZE] >> COUNT_BITS); }

    Cell kid(Pos p) const noexcept { return cells[kid_at(p)]; }
    Cell word_slot(Pos p) const noexcept { return cells[word_at(p)]; }
    PyObject *word_of(Pos p) const noexcept { return word_refs[word_slot(p)].get(); }
    Cell children(Pos p) const noexcept { return kid(p) ? count(kid(p)) : 0; }

    // The node whose children group g holds. Only removal and the checks climb,
    // so the slot is found again rather than stored in every group.
    Pos up(Cell g) const noexcept {
        Pos parent{cells[g + PARENT], 0};
        while (kid(parent) != g) ++parent.slot;
        return parent;
    }

    // The first slot of group g whose code point is not below `c`.
    Cell lower(Cell g, Py_UCS4 c) const noexcept {
        const Cell *cs = cells.data() + g + HEADER;
        return static_cast<Cell>(std::lower_bound(cs, cs + count(g), c) - cs);
    }

    std::size_t find(Cell g, Py_UCS4 c) const noexcept {
        const Cell *cs = cells.data() + g + HEADER;
        Cell n = count(g);
        // Wide groups near the root are often a full run of consecutive code
        // points (a whole alphabet), where the slot is the distance from the
        // first one: one compare instead of a scan.
        if (n >= 4) {
            Cell guess = static_cast<Cell>(c - cs[0]);
            if (guess < n && cs[guess] == c) return guess;
        }
        Cell i = 0;
#ifdef __SSE2__
        // Four code points per compare: a binary search over the wide groups
        // near the root mispredicts a branch at nearly every halving, and a
        // scan of a few vectors is cheaper than that for any realistic fan-out.
        // Code points fit in 31 bits, so the signed lanes compare them exactly.
        if (n > 64) return search(cs, n, c);
        const __m128i probe = _mm_set1_epi32(static_cast<int>(c));
        auto hits = [&](Cell at) {
            __m128i four = _mm_loadu_si128(reinterpret_cast<const __m128i *>(cs + at));
            return static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(four, probe))));
        };
        // Four to eight children, the common fan-out below the dense top: both
        // vectors are compared with no branch on where the hit is. A group of
        // four or more slots holds at least eight cells from its first code
        // point, so the second load stays inside it; the lanes past the count
        // are masked off.
        if (n >= 4 && n <= 8) {
            unsigned mask = (hits(0) | hits(4) << 4) & ((1u << n) - 1);
            return mask ? std::countr_zero(mask) : NO_SLOT;
        }
        for (; i + 4 <= n; i += 4) {
            if (unsigned hit = hits(i)) return i + static_cast<Cell>(std::countr_zero(hit));
        }
#else
        if (n > 8) return search(cs, n, c);
#endif
        for (; i < n; ++i)
            if (cs[i] == c) return i;
        return NO_SLOT;
    }

    static std::size_t search(const Cell *cs, Cell n, Py_UCS4 c) noexcept {
        Cell i = static_cast<Cell>(std::lower_bound(cs, cs + n, c) - cs);
        return i < n && cs[i] == c ? i : NO_SLOT;
    }

    // The deepest node on the text's path; `matched` is how many characters it took.
    Pos deepest(const Text &text, Py_ssize_t &matched) const noexcept {
        return text.visit([&](const auto *units, Py_ssize_t n) {
            Pos node = ROOT;
            for (matched = 0; matched < n; ++matched) {
                Cell g = kid(node);
                std::size_t at = g ? find(g, units[matched]) : NO_SLOT;
                if (at == NO_SLOT) break;
                node = {g, static_cast<Cell>(at)};
            }
            return node;
        });
    }

    // The node the text leads to, or no node when the path breaks off.
    Pos walk(const Text &text) const noexcept {
        Py_ssize_t matched = 0;
        Pos node = deepest(text, matched);
        return matched == text.size() ? node : Pos{};
    }

    Cell take_word_slot() {
        if (!free_words.empty()) {
            Cell slot = free_words.back();
            free_words.pop_back();
            return slot;
        }
        if (word_refs.size() > UINT32_MAX - 1) throw std::bad_alloc();
        word_refs.emplace_back();
        return static_cast<Cell>(word_refs.size() - 1);
    }

    // Undoes take_word_slot without allocating.
    void give_back_word_slot(Cell slot) noexcept {
        if (slot == word_refs.size() - 1) word_refs.pop_back(); else free_words.push_back(slot);
    }

    // Makes sure `extra` more cells fit without moving the arena, so the steps
    // after it cannot fail halfway. Offsets are 32-bit, which bounds the arena.
    void reserve(std::size_t extra) {
        std::size_t want = cells.size() + extra;
        if (want > UINT32_MAX) throw std::bad_alloc();
        if (want > cells.capacity()) cells.reserve(std::max(want, 2 * cells.capacity()));
    }

    // A zeroed group of `capacity` slots (a power of two) whose parent is `parent`;
    // the cells must already be reserved.
    Cell new_group(Cell capacity, Pos parent) {
        Cell &head = free_groups[std::countr_zero(capacity)];
        Cell g = head;
        if (g) {
            head = cells[g + PARENT];
        } else {
            g = static_cast<Cell>(cells.size());
            cells.resize(cells.size() + group_cells(capacity));
        }
        std::fill_n(cells.begin() + g, group_cells(capacity), 0);
        cells[g + SIZE] = static_cast<Cell>(std::countr_zero(capacity)) << COUNT_BITS;
        cells[g + PARENT] = parent.group;
        return g;
    }

    void free_group(Cell g) noexcept {
        Cell &head = free_groups[cells[g + SIZE] >> COUNT_BITS];
        cells[g + PARENT] = std::exchange(head, g);
    }

    // The child group of `node` with room for one more child, made or moved to
    // a group twice the size as needed (cells reserved by the caller). A moved
    // group's children learn their new parent, and so does `node`.
    Cell with_room(Pos node) {
        Cell g = kid(node);
        if (!g) return cells[kid_at(node)] = new_group(1, node);
        Cell n = count(g);
        if (n < capacity(g)) return g;
        Cell moved = new_group(2 * capacity(g), node);
        cells[moved + SIZE] += n;
        auto from = cells.begin();
        std::copy_n(from + char_at({g, 0}), n, from + char_at({moved, 0}));
        std::copy_n(from + kid_at({g, 0}), n, from + kid_at({moved, 0}));
        std::copy_n(from + word_at({g, 0}), n, from + word_at({moved, 0}));
        for (Cell i = 0; i < n; ++i)
            if (Cell k = kid({moved, i})) cells[k + PARENT] = moved;
        cells[kid_at(node)] = moved;
        free_group(g);
        return moved;
    }

    // Moves slots [at, end) of group g by `by` (+1 or -1).
    void shift(Cell g, Cell at, int by) noexcept {
        Cell n = count(g);
        for (Cell base : {char_at({g, 0}), kid_at({g, 0}), word_at({g, 0})}) {
            Cell *row = cells.data() + base;
            if (by > 0) std::copy_backward(row + at, row + n, row + n + 1);
            else std::copy(row + at, row + n, row + at - 1);
        }
    }

    // Cuts the node `p` (its subtree already released) out of its group, and
    // the group out of its parent when it empties, so a leaf has no group.
    void close_slot(Pos p) noexcept {
        shift(p.group, p.slot + 1, -1);
        if ((--cells[p.group + SIZE] & COUNT_MASK) == 0) {
            cells[kid_at(up(p.group))] = 0;
            free_group(p.group);
        }
    }

    // Links the missing tail text[from..] under `node`. Every cell it needs is
    // reserved first, so running out of memory leaves the trie as it was.
    Pos graft(Pos node, const Text &text, Py_ssize_t from) {
        Py_ssize_t end = text.size();
        std::size_t need = static_cast<std::size_t>(end - from - 1) * group_cells(1);
        if (Cell g = kid(node); !g)
            need += group_cells(1);
        else if (count(g) == capacity(g))
            need += group_cells(2 * capacity(g));
        reserve(need);
        Cell g = with_room(node);
        Cell at = lower(g, text[from]);
        shift(g, at, +1);
        ++cells[g + SIZE];
        cells[char_at({g, at})] = text[from];
        cells[kid_at({g, at})] = cells[word_at({g, at})] = 0;
        Pos tail{g, at};
        // The chain's groups come one after another in the arena, so walking
        // down a long unbranched word reads memory in order.
        for (Py_ssize_t i = from + 1; i < end; ++i) {
            Cell next = new_group(1, tail);
            ++cells[next + SIZE];
            cells[char_at({next, 0})] = text[i];
            cells[kid_at(tail)] = next;
            tail = {next, 0};
        }
        node_count += static_cast<std::uint64_t>(end - from);
        return tail;
    }

    // Depth first in code-point order: a word comes before its extensions.
    template <class F>
    void each_word_below(Pos start, F &&visit) const {
        std::vector<Pos> stack{start};
        while (!stack.empty()) {
            Pos node = stack.back();
            stack.pop_back();
            if (PyObject *w = word_of(node)) visit(w);
            if (Cell g = kid(node))
                for (Cell i = count(g); i > 0; --i) stack.push_back({g, i - 1});
        }
    }

    Ref words_below(Pos start) const {
        std::vector<PyObject *> found;
        each_word_below(start, [&](PyObject *word) { found.push_back(word); });
        return element_list(found.size(), found, [](PyObject *w) { return w; });
    }
};

extern const ClassDef trie_class = PyClass<Trie>("Trie")
                                       .method<&Trie::insert>("insert", {"value"})
                                       .method<&Trie::remove>("remove", {"word"})
                                       .method<&Trie::contains>("contains", {"value"})
                                       .method<&Trie::starts_with>("starts_with", {"prefix"})
                                       .method<&Trie::prefixed>("prefixed", {"prefix"})
                                       .method<&Trie::words>("words")
                                       .method<&Trie::extend>("extend", {"iterable"})
                                       .method<&Trie::get_prefixes>("get_prefixes", {"word"})
                                       .method<&Trie::prefix_count>("prefix_count", {"prefix"})
                                       .method<&Trie::base_keys>("base_keys")
                                       .method<&Trie::node_size>("node_size")
                                       .method<&Trie::word_size>("word_size")
                                       .method<&Trie::is_empty>("is_empty")
                                       .method<&Trie::copy>("copy")
                                       .method<&Trie::clear>("clear")
                                       .repr<&Trie::words, &Trie::is_empty>()
                                       .pickle<&Trie::state, &Trie::from_state>()
                                       .contains<&Trie::contains>()
                                       .gc<&Trie::visit>()
                                       .iter<&Trie::cursor>();

}  // namespace morvena
