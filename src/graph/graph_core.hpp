// The core shared by the four pairwise graphs (BaseGraph, Digraph, WeightedGraph,
// WeightedDigraph): one template, specialised by a Kind that says whether edges
// are directed, what they weigh, and which words each class's messages use.
//
// Layout. Nodes live in slots; a slot number never changes while its node
// lives, and the slots of removed nodes are reused through a free list. Python
// sees graph-assigned ids (1, 2, 3, ... never reused until `clear`), mapped to
// slots by a paged id table. Each node keeps its neighbours (successors when
// directed) as a vector of entries, plus predecessors when directed, so a
// traversal walks plain arrays and never hashes an id. The vectors of all
// nodes sit in one array of one-cache-line records (two for weighted graphs),
// their first entries in place, and payloads, ids and order links in a
// parallel array: building and walking a sparse graph touches one cache line
// per node visited. An unweighted entry is just the other end's slot, four
// bytes, so a node with five edges each way costs about 120 bytes in all.
//
// Edge tests scan the shorter of the two vectors concerned; a vector that grows
// past `index_from` entries is also indexed in one flat table keyed by (owner,
// vector, neighbour), so dense graphs keep constant-time edge tests while sparse
// ones pay neither the memory nor the cache misses of a table of all edges.
// Dropping an edge finds its mirror entry at the other end the same way: a
// scan of at most `index_from` entries or one probe, so removing a node costs
// O(1) per edge.
//
// Order. Ids grow with every insert, so insertion order is ascending id order;
// a doubly linked list through the slots keeps it while slots are reused. A
// vector is in edge-addition order: a removed entry becomes a tombstone
// (no_slot) and the vector is compacted, order kept, once tombstones outnumber
// live entries, so removal stays amortised O(1) and an edge added again goes to
// the end. Listings, traversal ties and sums follow these orders.
//
// Invariants (check() verifies them on small graphs in the sanitizer build):
// `node_count_` = live slots = entries of the id table = length of the order
// list; every live entry names a live slot whose matching vector names the
// owner back; an undirected edge is a mirrored pair of entries with equal
// weights (a self-loop is one entry), a directed edge a successor entry
// mirrored by a predecessor entry; `edge_count_` counts edges; an indexed
// vector has exactly its live entries in the index.
#pragma once

#include "elements.hpp"
#include "pyclass.hpp"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

namespace morvena {

// The weight of an unweighted edge: takes no room in an adjacency entry.
struct NoWeight {};

namespace graph {

inline constexpr std::uint32_t no_slot = std::numeric_limits<std::uint32_t>::max();
// Compaction keeps an adjacency vector below twice its live entries plus one, and
// live entries are bounded by the slot count, so capping slots at 2^31 keeps
// every position within 32 bits and an owner slot within an index key's 31 bits.
inline constexpr std::size_t max_slots = std::size_t{1} << 31;

// Index keys are packed (owner, vector, neighbour) triples: their high and
// low bits need mixing before the low bits pick a bucket.
inline std::uint64_t mix(std::uint64_t x) noexcept {
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdULL;
    x ^= x >> 33;
    return x;
}

// Open addressing with linear probing and backward-shift deletion (no
// tombstones), one 16-byte record per slot so a probe touches one cache line.
// `Empty` is a key that never occurs. Inserts need room reserved first, so a
// caller can allocate before it changes anything and then insert without fail.
template <class V, std::uint64_t Empty>
class FlatMap {
public:
    FlatMap() = default;
    FlatMap(FlatMap &&other) noexcept
        : slots_(std::move(other.slots_)), mask_(std::exchange(other.mask_, 0)), size_(std::exchange(other.size_, 0)) {}
    FlatMap &operator=(FlatMap &&other) noexcept {
        slots_ = std::move(other.slots_);
        mask_ = std::exchange(other.mask_, 0);
        size_ = std::exchange(other.size_, 0);
        return *this;
    }

    // The empty marker is never present, even when asked for.
    V *find(std::uint64_t key) noexcept {
        if (slots_.empty() || key == Empty) return nullptr;
        for (std::size_t i = home(key);; i = (i + 1) & mask_) {
            if (slots_[i].key == key) return &slots_[i].value;
            if (slots_[i].key == Empty) return nullptr;
        }
    }
    const V *find(std::uint64_t key) const noexcept { return const_cast<FlatMap *>(this)->find(key); }

    // Grows so that `extra` more keys fit under a 3/4 load.
    void reserve(std::size_t extra) {
        std::size_t need = size_ + extra;
        if (need * 4 <= slots_.size() * 3) return;
        std::size_t capacity = std::max<std::size_t>(slots_.size(), 8);
        while (need * 4 > capacity * 3) capacity *= 2;
        std::vector<Slot> old = std::exchange(slots_, std::vector<Slot>(capacity, Slot{Empty, V{}}));
        mask_ = capacity - 1;
        for (const Slot &slot : old)
            if (slot.key != Empty) place(slot);
    }

    // The key must be absent and room reserved.
    void insert(std::uint64_t key, V value) noexcept {
        place({key, value});
        ++size_;
    }

    // The key must be present.
    void erase(std::uint64_t key) noexcept {
        std::size_t hole = home(key);
        while (slots_[hole].key != key) hole = (hole + 1) & mask_;
        for (std::size_t next = (hole + 1) & mask_; slots_[next].key != Empty; next = (next + 1) & mask_) {
            // A record may move back into the hole only if its home bucket does
            // not lie cyclically between the hole and where it sits now.
            std::size_t want = home(slots_[next].key);
            bool stays = hole <= next ? (hole < want && want <= next) : (hole < want || want <= next);
            if (!stays) {
                slots_[hole] = slots_[next];
                hole = next;
            }
        }
        slots_[hole].key = Empty;
        --size_;
    }

    std::size_t size() const noexcept { return size_; }

private:
    struct Slot {
        std::uint64_t key;
        V value;
    };
    std::size_t home(std::uint64_t key) const noexcept { return mix(key) & mask_; }
    void place(const Slot &slot) noexcept {
        std::size_t i = home(slot.key);
        while (slots_[i].key != Empty) i = (i + 1) & mask_;
        slots_[i] = slot;
    }

    std::vector<Slot> slots_;
    std::size_t mask_ = 0;
    std::size_t size_ = 0;
};

// id -> slot. Ids are handed out densely from 1 and never reused until
// `clear`, so a lookup is an index into fixed pages of 64 ids: two loads, no
// hashing, and the table for 100,000 nodes (~440 KB) stays in the second-level
// cache. A page whose ids are all gone is freed, so a graph that keeps
// inserting and removing holds memory for the pages of its live nodes plus one
// pointer per 64 ids ever assigned, not a slot per id ever assigned.
//
// Until the first id is erased, ids 1..n sit in slots 0..n-1 (inserts fill
// slots in order while no slot has been freed), so the table keeps no pages at
// all and a lookup is a subtraction: building a graph pays neither the memory
// nor the cache misses of the pages. The pages are made on the first erase.
class IdTable {
public:
    std::uint32_t find(std::uint64_t id) const noexcept {
        if (dense_) return id - 1 < size_ ? static_cast<std::uint32_t>(id - 1) : no_slot;
        std::uint64_t page = id >> page_bits;
        if (page >= pages_.size() || !pages_[page]) return no_slot;
        return pages_[page]->slots[id & page_mask];
    }

    // Makes room for `id`, so that insert(id, ...) cannot fail.
    void reserve(std::uint64_t id) {
        if (dense_ && id == size_ + 1) return;
        make_sparse();
        std::uint64_t page = id >> page_bits;
        if (page >= pages_.size()) pages_.resize(page + 1);
        if (!pages_[page]) pages_[page] = std::make_unique<Page>();
    }

    // The id must be absent and reserved; while the table is dense, the id is
    // the next one (reserve saw to that) and the slot must be id - 1.
    void insert(std::uint64_t id, std::uint32_t slot) noexcept {
        if (dense_) {
            ++size_;
            return;
        }
        Page &page = *pages_[id >> page_bits];
        page.slots[id & page_mask] = slot;
        ++page.live;
        ++size_;
    }

    // Builds the pages of a dense table: the step of an erase that can fail,
    // so callers take it before they change anything.
    void make_sparse() {
        if (!dense_) return;
        std::vector<std::unique_ptr<Page>> pages((size_ >> page_bits) + 1);
        for (std::uint64_t id = 1; id <= size_; ++id) {
            std::unique_ptr<Page> &page = pages[id >> page_bits];
            if (!page) page = std::make_unique<Page>();
            page->slots[id & page_mask] = static_cast<std::uint32_t>(id - 1);
            ++page->live;
        }
        pages_ = std::move(pages);
        dense_ = false;
    }

    // The id must be present, and make_sparse called.
    void erase(std::uint64_t id) noexcept {
        std::unique_ptr<Page> &page = pages_[id >> page_bits];
        page->slots[id & page_mask] = no_slot;
        if (--page->live == 0) page.reset();
        --size_;
    }

    std::size_t size() const noexcept { return size_; }

private:
    static constexpr unsigned page_bits = 6;
    static constexpr std::uint64_t page_mask = (std::uint64_t{1} << page_bits) - 1;
    struct Page {
        Page() { std::fill(std::begin(slots), std::end(slots), no_slot); }
        std::uint32_t live = 0;
        std::uint32_t slots[std::size_t{1} << page_bits];
    };

    std::vector<std::unique_ptr<Page>> pages_;
    std::size_t size_ = 0;
    bool dense_ = true;
};

// A growable array of records in fixed pages of about 64 KB. Growing copies
// nothing and leaves at most one page part-used, where a doubling vector copies
// every record and holds up to twice the room it needs (and the C allocator
// keeps the blocks it outgrew resident). An access is one more load, from a
// page table that stays in the first-level cache. The first page alone starts
// small and doubles up to the full size, so that a graph of a few nodes (a
// payload of another graph, a million of them nested) costs a few records, not
// 64 KB; only those few records are ever moved, and no caller holds a record
// across an append.
template <class T>
class Paged {
    static constexpr std::size_t per_page = std::bit_floor(std::size_t{64 * 1024} / sizeof(T));
    static constexpr unsigned page_shift = std::countr_zero(per_page);

public:
    Paged() = default;
    Paged(Paged &&other) noexcept
        : pages_(std::move(other.pages_)),
          size_(std::exchange(other.size_, 0)),
          capacity_(std::exchange(other.capacity_, 0)) {}
    Paged &operator=(Paged &&other) noexcept {
        pages_ = std::move(other.pages_);
        size_ = std::exchange(other.size_, 0);
        capacity_ = std::exchange(other.capacity_, 0);
        return *this;
    }

    T &operator[](std::size_t i) noexcept { return pages_[i >> page_shift][i & (per_page - 1)]; }
    const T &operator[](std::size_t i) const noexcept { return pages_[i >> page_shift][i & (per_page - 1)]; }
    std::size_t size() const noexcept { return size_; }

    // Appends a default record.
    void emplace_back() {
        if (size_ == capacity_) {
            if (pages_.size() == 1 && capacity_ < per_page) {
                std::size_t grown = std::min(capacity_ * 2, per_page);
                auto page = std::make_unique<T[]>(grown);
                std::move(pages_[0].get(), pages_[0].get() + size_, page.get());
                pages_[0] = std::move(page);
                capacity_ = grown;
            } else {
                std::size_t first = pages_.empty() ? std::min<std::size_t>(4, per_page) : per_page;
                pages_.reserve(pages_.size() + 1);
                pages_.push_back(std::make_unique<T[]>(first));
                capacity_ += first;
            }
            ++size_;
            return;
        }
        (*this)[size_] = T{};
        ++size_;
    }
    // Forgets the last record, which must be as emplace_back left it.
    void pop_back() noexcept { --size_; }
    // Grows an empty array to `n` default records.
    void resize(std::size_t n) {
        while (size_ < n) emplace_back();
    }

private:
    std::vector<std::unique_ptr<T[]>> pages_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;  // records allocated in all pages
};

// One bit per slot: a traversal's marks for 100,000 nodes fit in 12.5 KB,
// which stays in the first-level cache while the search jumps around.
class SlotSet {
public:
    explicit SlotSet(std::size_t slots) : words_((slots + 63) / 64) {}
    bool contains(std::uint32_t slot) const noexcept { return words_[slot >> 6] >> (slot & 63) & 1; }
    // Adds the slot; false when it was already there.
    bool add(std::uint32_t slot) noexcept {
        std::uint64_t &word = words_[slot >> 6], bit = std::uint64_t{1} << (slot & 63);
        if (word & bit) return false;
        word |= bit;
        return true;
    }

private:
    std::vector<std::uint64_t> words_;
};

template <class W>
struct Entry {
    std::uint32_t slot;  // the other end; no_slot marks a removed entry
    [[no_unique_address]] W weight;
};
static_assert(sizeof(Entry<NoWeight>) == 4, "an unweighted entry is its slot alone");

// A node's vector of entries, in edge-addition order, tombstones included. It
// is `Bytes` long: the first entries live in the list itself, so a node of low
// degree has its edges in the cache line its lookup brought in and owns no heap
// memory; the entries past those go to one block from the small-object
// allocator (the GIL is always held), which has no per-block header. The
// block's capacity is not stored but follows from the size: whole groups of
// four entries while the block is short, so it wastes at most three, and the
// next power of two once it is long, so appends stay amortised O(1). The
// header is 16 bytes; a 32-byte list holds four 4-byte entries in place.
// Positions run across both parts.
template <class E, std::size_t Bytes>
class AdjList {
    static_assert(std::is_trivially_copyable_v<E>);

public:
    std::uint32_t dead : 31 = 0;
    std::uint32_t indexed : 1 = 0;  // its live entries are in the graph's vector index

    AdjList() = default;
    AdjList(AdjList &&other) noexcept { take(other); }
    AdjList &operator=(AdjList &&other) noexcept {
        if (this != &other) {
            PyObject_Free(heap_);
            take(other);
        }
        return *this;
    }
    ~AdjList() { PyObject_Free(heap_); }

    std::uint32_t size() const noexcept { return size_; }
    std::uint32_t live() const noexcept { return size_ - dead; }
    E &operator[](std::uint32_t i) noexcept { return i < inline_count ? inline_[i] : heap_[i - inline_count]; }
    const E &operator[](std::uint32_t i) const noexcept {
        return i < inline_count ? inline_[i] : heap_[i - inline_count];
    }

    // Room for one more entry; the block doubles when full.
    void make_room() {
        if (size_ >= inline_count && heap_capacity(size_) == size_ - inline_count)
            reallocate(heap_capacity(size_ + 1));
    }
    // Room for `total` entries in all.
    void reserve(std::uint32_t total) {
        if (total > inline_count && heap_capacity(total) > heap_capacity(size_)) reallocate(heap_capacity(total));
    }
    // Room must have been made.
    void push_back(const E &entry) noexcept {
        (*this)[size_] = entry;
        ++size_;
    }
    // Drops the entries from `size` on (compaction moved the live ones down)
    // and gives back the memory the smaller size does not need; should the
    // smaller block not be had, the larger one serves as well.
    void truncate(std::uint32_t size) noexcept {
        std::uint32_t capacity = heap_capacity(size);
        if (capacity == 0) {
            PyObject_Free(std::exchange(heap_, nullptr));
        } else if (capacity < heap_capacity(size_)) {
            if (E *smaller = static_cast<E *>(PyObject_Realloc(heap_, capacity * sizeof(E)))) heap_ = smaller;
        }
        size_ = size;
    }

    // The position of the entry naming `slot`, or no_slot.
    std::uint32_t find(std::uint32_t slot) const noexcept {
        std::uint32_t in_place = std::min(size_, inline_count);
        for (std::uint32_t i = 0; i < in_place; ++i)
            if (inline_[i].slot == slot) return i;
        for (std::uint32_t i = inline_count; i < size_; ++i)
            if (heap_[i - inline_count].slot == slot) return i;
        return no_slot;
    }

    template <class F>
    void for_each(F &&f) const {
        std::uint32_t in_place = std::min(size_, inline_count);
        for (std::uint32_t i = 0; i < in_place; ++i)
            if (inline_[i].slot != no_slot) f(inline_[i]);
        for (std::uint32_t i = inline_count; i < size_; ++i)
            if (heap_[i - inline_count].slot != no_slot) f(heap_[i - inline_count]);
    }

private:
    static constexpr std::size_t header = 16;  // dead and indexed, size, heap pointer
    static constexpr std::uint32_t inline_count = static_cast<std::uint32_t>((Bytes - header) / sizeof(E));

    // The heap entries a list of `size` entries has room for.
    static std::uint32_t heap_capacity(std::uint32_t size) noexcept {
        if (size <= inline_count) return 0;
        std::uint32_t spilled = size - inline_count;
        return spilled <= fine_until ? (spilled + 3) / 4 * 4 : std::bit_ceil(spilled);
    }
    // Up to here a block grows four entries at a time: each step copies at
    // most this many entries, a few cache lines.
    static constexpr std::uint32_t fine_until = 64;

    void take(AdjList &other) noexcept {
        dead = other.dead;
        indexed = other.indexed;
        size_ = std::exchange(other.size_, 0);
        heap_ = std::exchange(other.heap_, nullptr);
        std::copy_n(other.inline_, std::min(size_, inline_count), inline_);
        other.dead = 0;
        other.indexed = false;
    }
    void reallocate(std::uint32_t capacity) {
        E *grown = static_cast<E *>(PyObject_Realloc(heap_, std::size_t{capacity} * sizeof(E)));
        if (!grown) throw std::bad_alloc();
        heap_ = grown;
    }

    std::uint32_t size_ = 0;  // beside `dead` and `indexed`, so the header packs into 16 bytes
    E *heap_ = nullptr;
    E inline_[inline_count];
};

// What traversals and edge changes touch, one record per slot in one array:
// a node's vectors in one cache line (two when the entries carry weights),
// aligned so that a record never straddles lines. Directed nodes split it
// evenly between successors and predecessors.
template <class W, bool Directed>
struct alignas(64) Adjacency {
    static constexpr std::size_t bytes = std::is_same_v<W, NoWeight> ? 64 : 128;
    AdjList<Entry<W>, Directed ? bytes / 2 : bytes> out;  // neighbours, or successors when directed
    [[no_unique_address]] std::conditional_t<Directed, AdjList<Entry<NoWeight>, bytes / 2>, NoWeight> in;  // predecessors
};
static_assert(sizeof(Adjacency<NoWeight, true>) == 64 && sizeof(Adjacency<double, true>) == 128);
static_assert(sizeof(Adjacency<NoWeight, false>) == 64 && sizeof(Adjacency<double, false>) == 128);

// The rest of a node, in a parallel array.
struct NodeData {
    Ref payload;  // null while the slot is on the free list
    std::uint64_t id = 0;
    std::uint32_t prev = no_slot, next = no_slot;  // insertion order; `next` also links the free list
};

struct EdgeMessages {
    const char *first_missing;
    const char *second_missing;
};

// Scanning this many entries (two or four cache lines) is cheaper than a probe
// into a large table; longer vectors are indexed. Half of it unindexes, so a
// vector hovering at the threshold does not rebuild its index again and again.
inline constexpr std::size_t index_from = 32;

// The words BaseGraph and WeightedGraph share; the directed classes spell theirs out.
struct UndirectedKind {
    static constexpr bool directed = false;
    static constexpr bool self_loops = true;
    static constexpr bool path_from_first = true;
    static constexpr EdgeMessages add{"X node not found in current Graph", "Y node not found in current Graph"};
    static constexpr EdgeMessages query = add;
    static constexpr EdgeMessages path = add;
    static constexpr const char *self_edge = "Cannot connect nodes to oneself";
    static constexpr const char *no_connection = "No connection between x and y nodes";
};

}  // namespace graph

// A Kind provides: `directed`, `Weight` (NoWeight or double), `self_loops`
// (whether add_edge accepts equal ids), `path_from_first` (whether has_path
// searches from its first argument), and the messages `add`, `query` (for
// is_connected, remove_edge, get_weight), `path`, `self_edge`, `no_connection`.
// Undirected methods take (x, y); directed ones (to_id, from_id), the edge
// running from the second argument to the first.
template <class Kind>
class Graph {
    static constexpr bool directed = Kind::directed;
    using Weight = typename Kind::Weight;
    static constexpr bool weighted = !std::is_same_v<Weight, NoWeight>;
    using Out = graph::Entry<Weight>;
    using Links = graph::Adjacency<Weight, directed>;
    using NodeT = graph::NodeData;
    static constexpr std::uint32_t no_slot = graph::no_slot;
    static constexpr const char *empty_graph = "No elements currently available in Graph";

public:
    Graph() = default;
    Graph(Graph &&) noexcept = default;
    Graph &operator=(Graph &&) = delete;

    // ---- nodes -------------------------------------------------------------

    bool insert(Ref item) {
        slot_of_.reserve(next_id_);
        std::uint32_t slot = free_;
        if (slot == no_slot) {
            if (nodes_.size() >= graph::max_slots) throw std::bad_alloc();
            nodes_.emplace_back();
            try {
                adj_.emplace_back();
            } catch (...) {
                nodes_.pop_back();
                throw;
            }
            slot = static_cast<std::uint32_t>(nodes_.size() - 1);
        } else {
            free_ = nodes_[slot].next;
        }
        NodeT &node = nodes_[slot];
        node.payload = std::move(item);
        node.id = next_id_;
        node.prev = tail_;
        node.next = no_slot;
        (tail_ == no_slot ? head_ : nodes_[tail_].next) = slot;
        tail_ = slot;
        slot_of_.insert(next_id_, slot);
        ++next_id_;
        ++node_count_;
        return true;
    }

    Ref remove(std::uint64_t key) {
        require_nodes();
        std::uint32_t slot = slot_or(key, "Value not found in Graph");
        slot_of_.make_sparse();
        drop_edges_of(slot);
        NodeT &node = nodes_[slot];
        (node.prev == no_slot ? head_ : nodes_[node.prev].next) = node.next;
        (node.next == no_slot ? tail_ : nodes_[node.next].prev) = node.prev;
        slot_of_.erase(node.id);
        --node_count_;
        // The caller receives the graph's own reference: nothing is released here.
        Ref payload = std::move(node.payload);
        node = NodeT{};
        adj_[slot] = Links{};
        node.next = std::exchange(free_, slot);
        return payload;
    }

    // Deliberately not const: the pairwise graphs publish `extract` among the methods
    // that borrow the graph exclusively, and the borrow kind follows constness.
    Ref extract(std::uint64_t key) { return nodes_[slot_or(key, "Value not found in Graph")].payload.clone(); }

    Ref keys() const {
        require_nodes();
        ListBuilder list(node_count_);
        for_each_node([&](const NodeT &node) { list.push(to_python(node.id)); });
        return std::move(list).finish();
    }

    bool contains(std::uint64_t key) const {
        require_nodes();
        return slot_of_.find(key) != no_slot;
    }

    void update(Ref item, std::uint64_t index) {
        require_nodes();
        // Ref's assignment stores the new payload before releasing the old one,
        // whose finaliser may run Python code.
        nodes_[slot_or(index, "Index not found in present Graph")].payload = std::move(item);
    }

    Ref edges() const {
        require_nodes();
        ListBuilder list(node_count_);
        for_each_node([&](const NodeT &node) { list.push(to_python(std::make_tuple(node.id, node.payload.clone()))); });
        return std::move(list).finish();
    }

    bool is_empty() const { return node_count_ == 0; }
    std::uint64_t node_count() const { return node_count_; }
    // What repr() shows: the sizes, which unlike node_count/edge_count never raise.
    ReprFields sizing() const { return {{{"nodes", node_count_}, {"edges", edge_count_}}}; }

    // Free slots hold no payload and are skipped.
    void visit(Visitor &v) const {
        for (std::size_t slot = 0; slot < nodes_.size(); ++slot) v(nodes_[slot].payload);
    }
    // The ids in insertion order, as keys() lists them.
    struct Cursor {
        std::uint32_t slot;
        Ref next(const Graph &graph) {
            if (slot == no_slot) return {};
            const NodeT &node = graph.nodes_[slot];
            Ref id = to_python(node.id);
            slot = node.next;
            return id;
        }
    };
    Cursor cursor() const { return {head_}; }

    void clear() {
        if (node_count_ == 0) throw_value_error("Graph is already empty");
        // Detach everything first: releasing the payloads may run finalisers,
        // which must find an empty, consistent graph.
        auto old = std::exchange(nodes_, {});
        auto old_links = std::exchange(adj_, {});
        slot_of_ = {};
        index_ = {};
        head_ = tail_ = free_ = no_slot;
        next_id_ = 1;
        node_count_ = 0;
        edge_count_ = 0;
    }

    // ---- edges -------------------------------------------------------------

    void add_edge(std::uint64_t first, std::uint64_t second)
        requires(!weighted)
    {
        auto [from, to] = add_ends(first, second);
        link(from, to, {});
    }

    void add_weighted_edge(std::uint64_t first, std::uint64_t second, double weight)
        requires weighted
    {
        auto [from, to] = add_ends(first, second);
        link(from, to, weight);
    }

    bool is_connected(std::uint64_t first, std::uint64_t second) const {
        auto [from, to] = query_ends(first, second);
        return has_edge(from, to);
    }

    void remove_edge(std::uint64_t first, std::uint64_t second) {
        auto [from, to] = query_ends(first, second);
        std::uint32_t at = out_position(from, to);
        if (at == no_slot) throw_value_error(Kind::no_connection);
        unlink(from, at);
    }

    double get_weight(std::uint64_t first, std::uint64_t second) const
        requires weighted
    {
        auto [from, to] = query_ends(first, second);
        std::uint32_t at = out_position(from, to);
        if (at == no_slot) throw_value_error("X and Y nodes are not connected");
        return adj_[from].out[at].weight;
    }

    // Neighbours (successors when directed) in edge-addition order; weighted
    // graphs pair each with its weight.
    Ref neighbours(std::uint64_t index) const {
        require_nodes();
        const auto &list = adj_[slot_or(index, "Index not found in present Graph")].out;
        ListBuilder result(list.live());
        list.for_each([&](const Out &e) {
            if constexpr (weighted)
                result.push(to_python(std::make_tuple(nodes_[e.slot].id, e.weight)));
            else
                result.push(to_python(nodes_[e.slot].id));
        });
        return std::move(result).finish();
    }

    std::uint64_t degree(std::uint64_t id) const { return links_at(id).out.live(); }

    double weighted_degree(std::uint64_t id) const
        requires weighted
    {
        double sum = 0.0;
        links_at(id).out.for_each([&](const Out &e) { sum += e.weight; });
        return sum;
    }

    // Every edge once, a self-loop included.
    std::uint64_t edge_count() const {
        require_nodes();
        return edge_count_;
    }

    // Each edge's weight once, in node order then edge order; an undirected
    // edge is taken at the endpoint inserted first (the lower id).
    double total_weight() const
        requires weighted
    {
        require_nodes();
        double sum = 0.0;
        for_each_slot([&](std::uint32_t slot) {
            adj_[slot].out.for_each([&](const Out &e) {
                if (directed || nodes_[e.slot].id >= nodes_[slot].id) sum += e.weight;
            });
        });
        return sum;
    }

    // Edges over possible edges between distinct nodes; a single node has none
    // possible, and its density is 0.
    double density() const
        requires weighted
    {
        require_nodes();
        if (node_count_ == 1) return 0.0;
        double n = static_cast<double>(node_count_);
        double edges = static_cast<double>(edge_count_) * (directed ? 1.0 : 2.0);
        return edges / (n * (n - 1.0));
    }

    // ---- traversals --------------------------------------------------------

    // Breadth first from `start_id`, ties in edge-addition order; ids, or (id,
    // payload) pairs when return_value is True.
    Ref bfs_list(std::uint64_t start_id, std::optional<bool> return_value) const {
        std::uint32_t start = start_slot(start_id);
        graph::SlotSet seen(nodes_.size());
        std::vector<std::uint32_t> order{start};
        seen.add(start);
        // `order` doubles as the queue: a node is listed when it is taken.
        for (std::size_t next = 0; next < order.size(); ++next)
            adj_[order[next]].out.for_each([&](const Out &e) {
                if (seen.add(e.slot)) order.push_back(e.slot);
            });
        return listing(order, return_value.value_or(false));
    }

    // Depth first with a stack of pending nodes: a node is marked when pushed,
    // all its unmarked neighbours are pushed at once, and the last pushed is
    // expanded next.
    Ref dfs_list(std::uint64_t start_id, std::optional<bool> return_value) const {
        std::uint32_t start = start_slot(start_id);
        graph::SlotSet seen(nodes_.size());
        std::vector<std::uint32_t> stack{start}, order;
        seen.add(start);
        while (!stack.empty()) {
            std::uint32_t slot = stack.back();
            stack.pop_back();
            order.push_back(slot);
            adj_[slot].out.for_each([&](const Out &e) {
                if (seen.add(e.slot)) stack.push_back(e.slot);
            });
        }
        return listing(order, return_value.value_or(false));
    }

    bool has_path(std::uint64_t first, std::uint64_t second) const {
        auto [a, b] = resolve(first, second, Kind::path);
        return Kind::path_from_first ? reachable(a, b) : reachable(b, a);
    }

    // ---- directed only -----------------------------------------------------

    // Nodes keep their ids, order and payloads (new references); each edge u->v
    // becomes v->u, added in the order of a scan of u in node order, then u's
    // successors in order.
    Graph transpose() const
        requires directed
    {
        require_nodes();
        Graph t;
        t.nodes_.resize(node_count_);
        t.adj_.resize(node_count_);
                std::vector<std::uint32_t> renumbered(nodes_.size(), no_slot);
        std::uint32_t count = 0;
        for_each_slot([&](std::uint32_t slot) {
            const NodeT &node = nodes_[slot];
            NodeT &copy = t.nodes_[count];
            copy.payload = node.payload.clone();
            copy.id = node.id;
            copy.prev = count == 0 ? no_slot : count - 1;
            copy.next = count + 1 == node_count_ ? no_slot : count + 1;
            t.adj_[count].out.reserve(adj_[slot].in.live());
            t.adj_[count].in.reserve(adj_[slot].out.live());
            t.slot_of_.reserve(node.id);
            t.slot_of_.insert(node.id, count);
            renumbered[slot] = count++;
        });
        for_each_slot([&](std::uint32_t slot) {
            std::uint32_t u = renumbered[slot];
            adj_[slot].out.for_each([&](const Out &e) {
                std::uint32_t v = renumbered[e.slot];
                t.adj_[v].out.push_back({u, e.weight});
                t.adj_[u].in.push_back({v, {}});
            });
        });
        std::size_t indexed_entries = 0;
        for (std::uint32_t slot = 0; slot < count; ++slot)
            for (std::size_t size : {t.adj_[slot].out.size(), t.adj_[slot].in.size()})
                if (size >= graph::index_from) indexed_entries += size;
        t.index_.reserve(indexed_entries);
        for (std::uint32_t slot = 0; slot < count; ++slot) {
            if (t.adj_[slot].out.size() >= graph::index_from) t.build_index(slot, false, t.adj_[slot].out);
            if (t.adj_[slot].in.size() >= graph::index_from) t.build_index(slot, true, t.adj_[slot].in);
        }
        t.head_ = 0;
        t.tail_ = count - 1;
        t.next_id_ = next_id_;
        t.node_count_ = node_count_;
        t.edge_count_ = edge_count_;
        return t;
    }

    // Kahn's peeling: repeatedly drop nodes without remaining predecessors; a
    // cycle (a self-loop included) is exactly what can never be dropped. Runs
    // in O(nodes + edges) with no recursion.
    bool has_cycle() const
        requires directed
    {
        require_nodes();
        std::vector<std::uint32_t> pending(nodes_.size()), ready;
        for_each_slot([&](std::uint32_t slot) {
            pending[slot] = adj_[slot].in.live();
            if (pending[slot] == 0) ready.push_back(slot);
        });
        std::uint64_t dropped = 0;
        while (!ready.empty()) {
            std::uint32_t slot = ready.back();
            ready.pop_back();
            ++dropped;
            adj_[slot].out.for_each([&](const Out &e) {
                if (--pending[e.slot] == 0) ready.push_back(e.slot);
            });
        }
        return dropped != node_count_;
    }

    // ---- paths, orders and components (defined in graph_algorithms.hpp) -----

    // Edges counted for the unweighted classes, weights summed for the others.
    using Distance = std::conditional_t<weighted, double, std::uint64_t>;
    Ref shortest_path(std::uint64_t first, std::uint64_t second) const;
    std::optional<Distance> distance(std::uint64_t first, std::uint64_t second) const;
    Ref distances(std::uint64_t source) const;
    Ref topological_order() const
        requires directed;
    Ref components() const;
    Ref strong_components() const
        requires directed;

    // ---- invariants ----------------------------------------------------------

    void check() const {
        // A full walk after every mutation would make building a large graph
        // quadratic under the sanitizer build; small graphs are checked whole.
        if (nodes_.size() + edge_count_ > 4096) return;
        auto fail = [](const char *what) { throw_panic(std::string("graph invariant broken: ") + what); };
        std::uint64_t listed = 0, entries = 0, loops = 0, indexed = 0, last_id = 0;
        std::uint32_t prev = no_slot;
        for (std::uint32_t slot = head_; slot != no_slot; prev = slot, slot = nodes_[slot].next) {
            const NodeT &node = nodes_[slot];
            if (!node.payload || node.prev != prev || node.id <= last_id || node.id >= next_id_) fail("order list");
            if (slot_of_.find(node.id) != slot) fail("id table");
            last_id = node.id;
            ++listed;
            entries += check_list(slot, adj_[slot].out, false, indexed);
            if constexpr (directed) check_list(slot, adj_[slot].in, true, indexed);
            adj_[slot].out.for_each([&](const Out &e) { loops += e.slot == slot; });
        }
        if (prev != tail_ || listed != node_count_ || slot_of_.size() != node_count_) fail("node count");
        std::uint64_t free_slots = 0;
        for (std::uint32_t slot = free_; slot != no_slot; slot = nodes_[slot].next, ++free_slots)
            if (nodes_[slot].payload) fail("free list");
        if (free_slots + node_count_ != nodes_.size() || adj_.size() != nodes_.size()) fail("slot count");
        if (!directed) entries = (entries + loops) / 2;
        if (entries != edge_count_) fail("edge count");
        if (indexed != index_.size()) fail("index size");
    }

    // ---- saving and restoring (graph_pickle.hpp) ---------------------------

    static constexpr bool is_directed = directed;
    static constexpr bool is_weighted = weighted;

    std::uint64_t next_id() const noexcept { return next_id_; }
    // The next insert takes `id`, which is not below next_id(): ids only grow.
    void skip_to_id(std::uint64_t id) noexcept { next_id_ = id; }

    // node(id, payload) for each node in order, each followed by
    // link(neighbour id, weight) for its edges (successors) in edge order.
    template <class Node, class Link>
    void each_node_and_link(Node &&node, Link &&link) const {
        for_each_slot([&](std::uint32_t slot) {
            node(nodes_[slot].id, nodes_[slot].payload.get());
            adj_[slot].out.for_each([&](const Out &e) {
                if constexpr (weighted)
                    link(nodes_[e.slot].id, e.weight);
                else
                    link(nodes_[e.slot].id, 0.0);
            });
        });
    }

private:
    // ---- lookups and argument checks ----------------------------------------

    void require_nodes() const {
        if (node_count_ == 0) throw_value_error(empty_graph);
    }

    std::uint32_t slot_or(std::uint64_t id, const char *message) const {
        std::uint32_t slot = slot_of_.find(id);
        if (slot == no_slot) throw_value_error(message);
        return slot;
    }

    const Links &links_at(std::uint64_t id) const {
        require_nodes();
        return adj_[slot_or(id, "ID value not found in Graph")];
    }

    std::uint32_t start_slot(std::uint64_t id) const {
        require_nodes();
        return slot_or(id, "Index value not found in Graph");
    }

    std::pair<std::uint32_t, std::uint32_t> resolve(std::uint64_t first, std::uint64_t second,
                                                    graph::EdgeMessages messages) const {
        require_nodes();
        std::uint32_t a = slot_or(first, messages.first_missing);
        return {a, slot_or(second, messages.second_missing)};
    }

    // (from, to) of the edge two arguments name: (x, y), or (from_id, to_id)
    // for the directed classes' (to_id, from_id).
    static std::pair<std::uint32_t, std::uint32_t> oriented(std::pair<std::uint32_t, std::uint32_t> ends) {
        if constexpr (directed) return {ends.second, ends.first};
        return ends;
    }

    std::pair<std::uint32_t, std::uint32_t> add_ends(std::uint64_t first, std::uint64_t second) const {
        auto ends = resolve(first, second, Kind::add);
        if constexpr (!Kind::self_loops)
            if (ends.first == ends.second) throw_value_error(Kind::self_edge);
        return oriented(ends);
    }

    std::pair<std::uint32_t, std::uint32_t> query_ends(std::uint64_t first, std::uint64_t second) const {
        auto ends = resolve(first, second, Kind::query);
        if (ends.first == ends.second) throw_value_error(Kind::self_edge);
        return oriented(ends);
    }

    // ---- edge maintenance ----------------------------------------------------

    // Calls f with one of a node's vectors: its predecessors or its neighbours.
    template <class F>
    decltype(auto) with_list(std::uint32_t owner, bool predecessors, F &&f) {
        if constexpr (directed)
            if (predecessors) return f(adj_[owner].in);
        return f(adj_[owner].out);
    }
    template <class F>
    decltype(auto) with_list(std::uint32_t owner, bool predecessors, F &&f) const {
        if constexpr (directed)
            if (predecessors) return f(adj_[owner].in);
        return f(adj_[owner].out);
    }

    // Which vector of the other end mirrors an entry: a successor entry is
    // mirrored by a predecessor entry and the other way round; undirected
    // entries by neighbour entries.
    static bool mirror_kind(bool predecessors) noexcept { return directed && !predecessors; }

    static std::uint64_t index_key(std::uint32_t owner, bool predecessors, std::uint32_t neighbour) noexcept {
        return (std::uint64_t{owner} << 33) | (std::uint64_t{predecessors} << 32) | neighbour;
    }

    template <class List>
    std::uint32_t position_in(const List &list, std::uint32_t owner, bool predecessors,
                              std::uint32_t neighbour) const noexcept {
        if (list.indexed) {
            const std::uint32_t *at = index_.find(index_key(owner, predecessors, neighbour));
            return at ? *at : no_slot;
        }
        return list.find(neighbour);
    }

    // Whether the edge from -> to exists, asking the shorter of the two vectors.
    bool has_edge(std::uint32_t from, std::uint32_t to) const noexcept {
        const auto &out = adj_[from].out;
        const auto &back = backward(to);
        if (out.size() <= back.size()) return position_in(out, from, false, to) != no_slot;
        return position_in(back, to, directed, from) != no_slot;
    }

    // The position of the edge from -> to in from's vector, or no_slot.
    std::uint32_t out_position(std::uint32_t from, std::uint32_t to) const noexcept {
        return position_in(adj_[from].out, from, false, to);
    }

    // The position of the entry mirroring `owner`'s entry for `other`: in
    // other's vector of kind mirror_kind(predecessors). It must exist.
    std::uint32_t mirror_position(std::uint32_t owner, bool predecessors, std::uint32_t other) const noexcept {
        bool kind = mirror_kind(predecessors);
        return with_list(other, kind, [&](const auto &list) { return position_in(list, other, kind, owner); });
    }

    // Index entries an append to `list` may need: one, or the whole vector
    // when the append takes it past the threshold.
    template <class List>
    static std::size_t index_need(const List &list) noexcept {
        if (list.indexed) return 1;
        return list.size() + 1 >= graph::index_from ? list.live() + 1 : 0;
    }

    template <class List>
    void build_index(std::uint32_t owner, bool predecessors, List &list) noexcept {
        for (std::uint32_t i = 0; i < list.size(); ++i)
            if (list[i].slot != no_slot) index_.insert(index_key(owner, predecessors, list[i].slot), i);
        list.indexed = true;
    }

    template <class List>
    void drop_index(std::uint32_t owner, bool predecessors, List &list) noexcept {
        list.for_each([&](const auto &e) { index_.erase(index_key(owner, predecessors, e.slot)); });
        list.indexed = false;
    }

    // Room must have been made (make_room, index_.reserve(index_need)).
    template <class List, class E>
    void append(std::uint32_t owner, bool predecessors, List &list, E entry) noexcept {
        list.push_back(entry);
        if (list.indexed)
            index_.insert(index_key(owner, predecessors, entry.slot), list.size() - 1);
        else if (list.size() >= graph::index_from)
            build_index(owner, predecessors, list);
    }

    // Adds the edge or, if it exists, replaces its weight. Everything that can
    // fail (allocation) happens before the first change.
    void link(std::uint32_t from, std::uint32_t to, Weight weight) {
        if constexpr (weighted) {
            std::uint32_t at = out_position(from, to);
            if (at != no_slot) {
                adj_[from].out[at].weight = weight;
                if constexpr (!directed)
                    if (from != to) adj_[to].out[mirror_position(from, false, to)].weight = weight;
                return;
            }
        } else if (has_edge(from, to)) {
            return;
        }
        auto &source = adj_[from].out;
        if constexpr (directed) {
            auto &target = adj_[to].in;
            source.make_room();
            target.make_room();
            index_.reserve(index_need(source) + index_need(target));
            append(from, false, source, Out{to, weight});
            append(to, true, target, graph::Entry<NoWeight>{from, {}});
        } else if (from == to) {
            source.make_room();
            index_.reserve(index_need(source));
            append(from, false, source, Out{to, weight});
        } else {
            auto &target = adj_[to].out;
            source.make_room();
            target.make_room();
            index_.reserve(index_need(source) + index_need(target));
            append(from, false, source, Out{to, weight});
            append(to, false, target, Out{from, weight});
        }
        ++edge_count_;
    }

    // Drops the edge at `position` of from's vector, and its mirror.
    void unlink(std::uint32_t from, std::uint32_t position) noexcept {
        const Out entry = adj_[from].out[position];
        bury(from, false, position);
        if (directed || entry.slot != from)
            bury(entry.slot, mirror_kind(false), mirror_position(from, false, entry.slot));
        --edge_count_;
    }

    // Drops every edge at `slot` from the other endpoints' vectors; the node's
    // own vectors are discarded by the caller.
    void drop_edges_of(std::uint32_t slot) noexcept {
        Links &node = adj_[slot];
        if (node.out.indexed) drop_index(slot, false, node.out);
        node.out.for_each([&](const Out &e) {
            if (e.slot != slot) bury(e.slot, mirror_kind(false), mirror_position(slot, false, e.slot));
            --edge_count_;
        });
        if constexpr (directed) {
            if (node.in.indexed) drop_index(slot, true, node.in);
            node.in.for_each([&](const graph::Entry<NoWeight> &e) {
                if (e.slot == slot) return;  // the self-loop went with the successors
                bury(e.slot, false, mirror_position(slot, true, e.slot));
                --edge_count_;
            });
        }
    }

    // Turns entry `position` of a vector of `owner` into a tombstone, compacting
    // the vector once tombstones are the majority; entries that move tell the
    // index where they went.
    void bury(std::uint32_t owner, bool predecessors, std::uint32_t position) noexcept {
        with_list(owner, predecessors, [&](auto &list) {
            auto &entry = list[position];
            if (list.indexed) index_.erase(index_key(owner, predecessors, entry.slot));
            entry.slot = no_slot;
            if (++list.dead <= list.live()) return;
            if (list.indexed && list.live() < graph::index_from / 2) drop_index(owner, predecessors, list);
            std::uint32_t kept = 0;
            for (std::uint32_t i = 0; i < list.size(); ++i) {
                auto moved = list[i];
                if (moved.slot == no_slot) continue;
                list[kept] = moved;
                if (kept != i && list.indexed) *index_.find(index_key(owner, predecessors, moved.slot)) = kept;
                ++kept;
            }
            list.truncate(kept);
            list.dead = 0;
        });
    }

    // ---- traversal helpers ---------------------------------------------------

    template <class F>
    void for_each_slot(F &&f) const {
        for (std::uint32_t slot = head_; slot != no_slot; slot = nodes_[slot].next) f(slot);
    }
    template <class F>
    void for_each_node(F &&f) const {
        for_each_slot([&](std::uint32_t slot) { f(nodes_[slot]); });
    }

    const auto &backward(std::uint32_t slot) const {
        if constexpr (directed)
            return adj_[slot].in;
        else
            return adj_[slot].out;
    }

    // Breadth first from both ends, one level at a time on the smaller frontier,
    // until the two searches meet or one runs dry. Only the answer is visible,
    // so this is free to explore far less than a one-sided search.
    bool reachable(std::uint32_t from, std::uint32_t to) const {
        if (from == to) return true;
        graph::SlotSet forward_seen(nodes_.size()), back_seen(nodes_.size());
        std::vector<std::uint32_t> forward{from}, back{to};
        forward_seen.add(from);
        back_seen.add(to);
        std::size_t forward_done = 0, back_done = 0;
        auto expand = [](std::vector<std::uint32_t> &queue, std::size_t &done, graph::SlotSet &mine,
                         const graph::SlotSet &theirs, auto &&edges_of) {
            std::size_t level_end = queue.size();
            bool met = false;
            for (; done < level_end && !met; ++done)
                edges_of(queue[done]).for_each([&](const auto &e) {
                    if (theirs.contains(e.slot)) met = true;
                    if (mine.add(e.slot)) queue.push_back(e.slot);
                });
            return met;
        };
        auto successors = [&](std::uint32_t slot) -> const auto & { return adj_[slot].out; };
        auto predecessors = [&](std::uint32_t slot) -> const auto & { return backward(slot); };
        while (forward_done < forward.size() && back_done < back.size()) {
            bool met = forward.size() - forward_done <= back.size() - back_done
                           ? expand(forward, forward_done, forward_seen, back_seen, successors)
                           : expand(back, back_done, back_seen, forward_seen, predecessors);
            if (met) return true;
        }
        return false;
    }

    Ref listing(const std::vector<std::uint32_t> &order, bool with_payload) const {
        ListBuilder list(order.size());
        for (std::uint32_t slot : order) {
            const NodeT &node = nodes_[slot];
            if (with_payload)
                list.push(to_python(std::make_tuple(node.id, node.payload.clone())));
            else
                list.push(to_python(node.id));
        }
        return std::move(list).finish();
    }

    // ---- invariant helpers ---------------------------------------------------

    template <class List>
    std::uint64_t check_list(std::uint32_t owner, const List &list, bool predecessors, std::uint64_t &indexed) const {
        auto fail = [](const char *what) { throw_panic(std::string("graph invariant broken: ") + what); };
        std::uint32_t dead = 0;
        for (std::uint32_t i = 0; i < list.size(); ++i) {
            const auto &e = list[i];
            if (e.slot == no_slot) {
                ++dead;
                continue;
            }
            if (e.slot >= nodes_.size() || !nodes_[e.slot].payload) fail("entry names a removed node");
            for (std::uint32_t j = 0; j < i; ++j)
                if (list[j].slot == e.slot) fail("parallel entries");
            with_list(e.slot, mirror_kind(predecessors), [&](const auto &other) {
                std::uint32_t at = other.find(owner);
                if (at == no_slot) fail("entry without its mirror");
                if constexpr (weighted && !directed)
                    if (std::bit_cast<std::uint64_t>(other[at].weight) != std::bit_cast<std::uint64_t>(e.weight))
                        fail("mirrored weight");
            });
            if (list.indexed) {
                const std::uint32_t *at = index_.find(index_key(owner, predecessors, e.slot));
                if (!at || *at != i) fail("index entry");
                ++indexed;
            }
        }
        if (dead != list.dead || list.dead > list.live()) fail("tombstone count");
        return list.live();
    }

    graph::Paged<Links> adj_;
    graph::Paged<NodeT> nodes_;  // in step with adj_
    graph::IdTable slot_of_;
    graph::FlatMap<std::uint32_t, ~std::uint64_t{0}> index_;  // (owner, vector, neighbour) -> position
    std::uint32_t head_ = no_slot, tail_ = no_slot, free_ = no_slot;
    std::uint64_t next_id_ = 1;
    std::uint64_t node_count_ = 0;
    std::uint64_t edge_count_ = 0;
};

}  // namespace morvena
