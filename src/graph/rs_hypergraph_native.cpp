// HyperGraph: nodes with Python payloads under ids it hands out (1, 2, ...), and
// hyperedges named by strings, each joining a set of nodes. Invariant: node n is
// a member of edge e exactly when e is in n's memberships entry, and a node has
// a memberships entry only while it belongs to at least one hyperedge.
//
// Every map and set keeps insertion order, so each listing is deterministic:
// nodes as inserted, hyperedges as created, an edge's members and a node's
// memberships in the order they were joined.
#include "elements.hpp"
#include "pickle.hpp"

#include <functional>
#include <string>
#include <string_view>

namespace morvena {

namespace {

inline std::uint64_t hash_of(std::uint64_t id) noexcept {
    // Ids are consecutive; a multiplicative mix spreads them over the table.
    std::uint64_t x = id * 0x9e3779b97f4a7c15ULL;
    return x ^ (x >> 29);
}
inline std::uint64_t hash_of(std::string_view text) noexcept { return std::hash<std::string_view>{}(text); }

struct Unit {};

// An insertion-ordered hash map. Entries sit densely in insertion order; an
// open-addressing table (linear probing, backward-shift deletion, so no
// tombstones in the table) holds entry positions. An erased entry leaves a hole
// in the entry array that the next insert squeezes out once holes outnumber
// live entries, so listings cost O(live) amortised. Erasing never allocates.
template <class K, class V>
class OrderedMap {
public:
    std::size_t size() const noexcept { return live_; }
    bool empty() const noexcept { return live_ == 0; }

    template <class Q>
    V *find(const Q &key) noexcept {
        std::size_t slot = slot_of(key, hash_of(key));
        return slot == npos ? nullptr : &entries_[slots_[slot] - 1].value;
    }
    template <class Q>
    const V *find(const Q &key) const noexcept {
        return const_cast<OrderedMap *>(this)->find(key);
    }
    template <class Q>
    bool contains(const Q &key) const noexcept {
        return find(key) != nullptr;
    }

    // Appends key -> value unless the key is present; returns whether it did.
    bool insert(K key, V value) {
        std::uint64_t hash = hash_of(key);
        if (slot_of(key, hash) != npos) return false;
        make_room();
        entries_.push_back(Entry{std::move(key), std::move(value), hash, true});
        put(hash, entries_.size());
        ++live_;
        return true;
    }

    // The value under `key`, inserted default-constructed if absent.
    V &get_or_insert(K key) {
        if (V *found = find(key)) return *found;
        insert(std::move(key), V{});
        return entries_.back().value;
    }

    template <class Q>
    std::optional<V> erase(const Q &key) noexcept {
        std::size_t slot = slot_of(key, hash_of(key));
        if (slot == npos) return std::nullopt;
        Entry &entry = entries_[slots_[slot] - 1];
        std::optional<V> value(std::move(entry.value));
        entry.live = false;
        --live_;
        remove_slot(slot);
        return value;
    }

    template <class F>
    void for_each(F &&f) const {
        for (const Entry &entry : entries_)
            if (entry.live) f(entry.key, entry.value);
    }

    // A walk by entry position, for iterators: the live entry at or after
    // `position`, with the position to continue from, or nullptr at the end.
    const K *key_from(std::size_t &position) const noexcept {
        for (; position < entries_.size(); ++position)
            if (entries_[position].live) return &entries_[position++].key;
        return nullptr;
    }

    Ref key_list() const {
        ListBuilder list(live_);
        for_each([&](const K &key, const V &) { list.push(to_python(key)); });
        return std::move(list).finish();
    }

private:
    struct Entry {
        K key;
        V value;
        std::uint64_t hash;
        bool live;
    };
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    template <class Q>
    std::size_t slot_of(const Q &key, std::uint64_t hash) const noexcept {
        if (slots_.empty()) return npos;
        std::size_t mask = slots_.size() - 1;
        for (std::size_t i = hash & mask; slots_[i] != 0; i = (i + 1) & mask) {
            const Entry &entry = entries_[slots_[i] - 1];
            if (entry.hash == hash && entry.key == key) return i;
        }
        return npos;
    }

    void put(std::uint64_t hash, std::size_t position) noexcept {
        std::size_t mask = slots_.size() - 1;
        std::size_t i = hash & mask;
        while (slots_[i] != 0) i = (i + 1) & mask;
        slots_[i] = position;
    }

    // Keeps the table at most half full and the entry array at most half holes.
    void make_room() {
        std::size_t holes = entries_.size() - live_;
        if (holes > live_ && holes > 8) {
            std::vector<Entry> packed;
            packed.reserve(live_ + 1);
            for (Entry &entry : entries_)
                if (entry.live) packed.push_back(std::move(entry));
            entries_ = std::move(packed);
            rehash(std::max<std::size_t>(slots_.size(), 8));
        }
        if ((live_ + 1) * 2 > slots_.size()) rehash(std::max<std::size_t>(slots_.size() * 2, 8));
    }

    void rehash(std::size_t capacity) {
        std::vector<std::size_t> fresh(capacity, 0);
        slots_.swap(fresh);
        for (std::size_t i = 0; i < entries_.size(); ++i)
            if (entries_[i].live) put(entries_[i].hash, i + 1);
    }

    // Backward-shift deletion: later entries of the probe run move up into the
    // gap unless that would put them before their home slot.
    void remove_slot(std::size_t gap) noexcept {
        std::size_t mask = slots_.size() - 1;
        slots_[gap] = 0;
        for (std::size_t i = (gap + 1) & mask; slots_[i] != 0; i = (i + 1) & mask) {
            std::size_t home = entries_[slots_[i] - 1].hash & mask;
            bool stays = gap <= i ? (gap < home && home <= i) : (gap < home || home <= i);
            if (stays) continue;
            slots_[gap] = slots_[i];
            slots_[i] = 0;
            gap = i;
        }
    }

    std::vector<Entry> entries_;
    std::vector<std::size_t> slots_;  // 0 empty, else an entry position + 1
    std::size_t live_ = 0;
};

using NodeSet = OrderedMap<std::uint64_t, Unit>;
using EdgeSet = OrderedMap<std::string, Unit>;

[[noreturn, gnu::cold]] void throw_with(std::string_view before, auto id, std::string_view after) {
    std::string message(before);
    if constexpr (std::is_same_v<decltype(id), std::uint64_t>)
        message += std::to_string(id);
    else
        message += id;
    message += after;
    throw_value_error(message);
}

}  // namespace

struct HyperGraph {
    OrderedMap<std::uint64_t, Ref> nodes;
    OrderedMap<std::string, NodeSet> edges;
    OrderedMap<std::uint64_t, EdgeSet> memberships;
    std::uint64_t next_id = 1;

    void need_nodes() const {
        if (nodes.empty()) throw_value_error("No elements currently available in Graph");
    }
    void need_edges() const {
        if (edges.empty()) throw_value_error("No hyper edges currently available in Graph");
    }

    bool insert(Ref payload) {
        if (!nodes.insert(next_id, std::move(payload))) return false;
        ++next_id;
        return true;
    }

    Ref remove(std::uint64_t key) {
        need_nodes();
        std::optional<Ref> payload = nodes.erase(key);
        if (!payload) throw_value_error("Value not found in graph");
        if (std::optional<EdgeSet> joined = memberships.erase(key))
            joined->for_each([&](const std::string &edge, Unit) { edges.find(edge)->erase(key); });
        return std::move(*payload);
    }

    Ref extract(std::uint64_t key) const {
        need_nodes();
        const Ref *payload = nodes.find(key);
        if (!payload) throw_value_error("Value not found in Graph");
        return payload->clone();
    }

    Ref keys() const {
        need_nodes();
        return nodes.key_list();
    }

    bool contains(std::uint64_t key) const {
        need_nodes();
        return nodes.contains(key);
    }

    void update(Ref payload, std::uint64_t id) {
        need_nodes();
        Ref *stored = nodes.find(id);
        if (!stored) throw_value_error("Value not found in graph");
        *stored = std::move(payload);  // the old payload is released after the swap
    }

    void add_edge(std::string id, std::optional<std::vector<std::uint64_t>> vertices) {
        need_nodes();
        if (edges.contains(id)) throw_with("Edge ", std::string_view(id), " already exists!");
        // Every vertex is checked before any membership is recorded.
        NodeSet members;
        for (std::uint64_t vertex : vertices.value_or(std::vector<std::uint64_t>{})) {
            if (!nodes.contains(vertex)) throw_with("Node with ID ", vertex, " does not exist in Graph");
            members.insert(vertex, Unit{});
        }
        members.for_each([&](std::uint64_t node, Unit) { memberships.get_or_insert(node).insert(id, Unit{}); });
        edges.insert(std::move(id), std::move(members));
    }

    bool remove_edge(std::string_view id) {
        std::optional<NodeSet> members = edges.erase(id);
        if (!members) return false;
        members->for_each([&](std::uint64_t node, Unit) { leave(node, id); });
        return true;
    }

    // Drops `edge` from the node's memberships, and the entry once it is empty.
    void leave(std::uint64_t node, std::string_view edge) {
        EdgeSet *joined = memberships.find(node);
        if (!joined) return;
        joined->erase(edge);
        if (joined->empty()) memberships.erase(node);
    }

    NodeSet &edge_and_node(std::string_view edge_id, std::uint64_t node_id) {
        NodeSet *members = edges.find(edge_id);
        if (!members) throw_with("Edge with ID ", edge_id, " not found!");
        if (!nodes.contains(node_id)) throw_with("Node with ID ", node_id, " not found!");
        return *members;
    }

    void connect(std::string_view edge_id, std::uint64_t node_id) {
        NodeSet &members = edge_and_node(edge_id, node_id);
        if (!members.insert(node_id, Unit{})) return;
        memberships.get_or_insert(node_id).insert(std::string(edge_id), Unit{});
    }

    void disconnect(std::string_view edge_id, std::uint64_t node_id) {
        edge_and_node(edge_id, node_id).erase(node_id);
        leave(node_id, edge_id);
    }

    Ref edges_list() const {
        need_edges();
        return edges.key_list();
    }

    bool is_connected(std::string_view edge_id, std::uint64_t node_id) const {
        need_nodes();
        if (!nodes.contains(node_id)) throw_with("Node with ID ", node_id, " not found!");
        if (edges.empty()) throw_value_error("No hyper-edges currently available in Graph");
        const NodeSet *members = edges.find(edge_id);
        if (!members) throw_with("Hyper edge with ID ", edge_id, " not found!");
        return members->contains(node_id);
    }

    Ref edges_of(std::uint64_t node_id) const {
        need_edges();
        const EdgeSet *joined = memberships.find(node_id);
        if (!joined) throw_with("Node with ID ", node_id, " not found in graph!");
        return joined->key_list();
    }

    Ref nodes_of(std::string_view edge_id) const {
        if (nodes.empty()) throw_value_error("No nodes currently available in Graph");
        const NodeSet *members = edges.find(edge_id);
        if (!members) throw_with("Edge with ID ", edge_id, " not found in Graph!");
        return members->key_list();
    }

    // Walks the smaller member set (the first on a tie), so the result comes in
    // the order its nodes joined that hyperedge.
    std::vector<std::uint64_t> intersection(std::string_view edge_id1, std::string_view edge_id2) const {
        const NodeSet *first = edges.find(edge_id1);
        if (!first) throw_with("Hyper edge with ID ", edge_id1, " not found in Graph");
        const NodeSet *second = edges.find(edge_id2);
        if (!second) throw_with("Hyper edge with ID ", edge_id2, " not found in Graph");
        if (second->size() < first->size()) std::swap(first, second);
        std::vector<std::uint64_t> common;
        first->for_each([&](std::uint64_t node, Unit) {
            if (second->contains(node)) common.push_back(node);
        });
        return common;
    }

    std::uint64_t degree(std::uint64_t node_id) const {
        const EdgeSet *joined = memberships.find(node_id);
        if (!joined) throw_with("Node with ID ", node_id, " not found in Graph");
        return joined->size();
    }

    std::uint64_t max_degree() const {
        std::uint64_t most = 0;
        memberships.for_each(
            [&](std::uint64_t, const EdgeSet &joined) { most = std::max<std::uint64_t>(most, joined.size()); });
        return most;
    }

    std::uint64_t min_degree() const {
        std::optional<std::uint64_t> least;
        memberships.for_each([&](std::uint64_t, const EdgeSet &joined) {
            least = std::min<std::uint64_t>(least.value_or(joined.size()), joined.size());
        });
        return least.value_or(0);
    }

    // In 32-bit floating point, as the degree statistics have always been
    // reported; 0/0 (no node in any hyperedge) is NaN.
    float average_degree() const {
        std::uint64_t total = 0;
        memberships.for_each([&](std::uint64_t, const EdgeSet &joined) { total += joined.size(); });
        return static_cast<float>(total) / static_cast<float>(memberships.size());
    }

    std::uint64_t edge_size(std::string_view edge_id) const {
        const NodeSet *members = edges.find(edge_id);
        if (!members) throw_with("Hyperedge with ID ", edge_id, " not found in Graph!");
        return members->size();
    }

    bool is_empty() const { return nodes.empty(); }
    // What repr() shows: the sizes, which unlike node_count/edge_count never raise.
    ReprFields sizing() const {
        return {{{"nodes", std::uint64_t{nodes.size()}}, {"edges", std::uint64_t{edges.size()}}}};
    }

    std::uint64_t node_count() const {
        need_nodes();
        return nodes.size();
    }

    std::uint64_t edge_count() const {
        need_edges();
        return edges.size();
    }

    void visit(Visitor &v) const {
        nodes.for_each([&](std::uint64_t, const Ref &payload) { v(payload); });
    }
    // The node ids in insertion order, as keys() lists them.
    struct Cursor {
        std::size_t position = 0;
        Ref next(const HyperGraph &graph) {
            const std::uint64_t *id = graph.nodes.key_from(position);
            return id ? to_python(*id) : Ref();
        }
    };
    Cursor cursor() const { return {}; }

    void clear() {
        // Detach first: releasing the payloads may run finalisers.
        auto old_nodes = std::exchange(nodes, {});
        edges = {};
        memberships = {};
        next_id = 1;
    }

    // The next id, the (id, payload) nodes, the (name, member ids) hyperedges
    // and the (id, edge names) memberships, each in its order.
    Ref state() const {
        std::vector<std::tuple<std::uint64_t, Ref>> node_list;
        nodes.for_each([&](std::uint64_t id, const Ref &payload) { node_list.emplace_back(id, payload.clone()); });
        std::vector<std::tuple<std::string, Ref>> edge_list;
        edges.for_each([&](const std::string &name, const NodeSet &members) { edge_list.emplace_back(name, members.key_list()); });
        std::vector<std::tuple<std::uint64_t, Ref>> joined_list;
        memberships.for_each([&](std::uint64_t id, const EdgeSet &joined) { joined_list.emplace_back(id, joined.key_list()); });
        return make_tuple(to_python(next_id), to_python(std::move(node_list)), to_python(std::move(edge_list)),
                          to_python(std::move(joined_list)));
    }

    // Memberships must mirror the hyperedges' members exactly: each side is
    // read on its own and the pairs are counted against each other.
    static HyperGraph from_state(const StateReader &state) {
        state.fields(4);
        HyperGraph out;
        out.next_id = state.u64(0, "the next id");
        std::vector<Ref> node_list = state.items(state.field(1), "the nodes");
        std::vector<Ref> edge_list = state.items(state.field(2), "the hyperedges");
        std::vector<Ref> joined_list = state.items(state.field(3), "the memberships");
        std::uint64_t previous = 0;
        for (const Ref &item : node_list) {
            PyObject *node = state.tuple(item.get(), 2, "a node");
            std::uint64_t id = state.u64_of(PyTuple_GET_ITEM(node, 0), "a node id");
            if (id <= previous || id >= out.next_id) state.invalid("the node ids must ascend from 1 below the next id");
            previous = id;
            out.nodes.insert(id, Ref::borrow(PyTuple_GET_ITEM(node, 1)));
        }
        std::uint64_t pairs = 0;
        for (const Ref &item : edge_list) {
            PyObject *edge = state.tuple(item.get(), 2, "a hyperedge");
            std::string name(state.text(PyTuple_GET_ITEM(edge, 0), "a hyperedge name"));
            NodeSet members;
            for (const Ref &member : state.items(PyTuple_GET_ITEM(edge, 1), "a hyperedge's members")) {
                std::uint64_t id = state.u64_of(member.get(), "a member id");
                if (!out.nodes.contains(id)) state.invalid("a hyperedge names a missing node");
                if (!members.insert(id, Unit{})) state.invalid("a hyperedge names a node twice");
                ++pairs;
            }
            if (!out.edges.insert(std::move(name), std::move(members))) state.invalid("two hyperedges share a name");
        }
        for (const Ref &item : joined_list) {
            PyObject *entry = state.tuple(item.get(), 2, "a membership");
            std::uint64_t id = state.u64_of(PyTuple_GET_ITEM(entry, 0), "a node id");
            EdgeSet joined;
            for (const Ref &edge : state.items(PyTuple_GET_ITEM(entry, 1), "a node's hyperedges")) {
                std::string_view name = state.text(edge.get(), "a hyperedge name");
                const NodeSet *members = out.edges.find(name);
                if (!members || !members->contains(id)) state.invalid("a membership has no hyperedge member behind it");
                if (!joined.insert(std::string(name), Unit{})) state.invalid("a node joins a hyperedge twice");
                if (pairs-- == 0) state.invalid("more memberships than hyperedge members");
            }
            if (joined.empty()) state.invalid("a node without hyperedges has a memberships entry");
            if (!out.memberships.insert(id, std::move(joined))) state.invalid("a node has two memberships entries");
        }
        if (pairs != 0) state.invalid("a hyperedge member has no membership behind it");
        return out;
    }
};

extern const ClassDef hypergraph_class = PyClass<HyperGraph>("HyperGraph")
                                             .method<&HyperGraph::insert>("insert", {"payload"})
                                             .method<&HyperGraph::remove>("remove", {"key"})
                                             .method<&HyperGraph::extract>("extract", {"key"})
                                             .method<&HyperGraph::keys>("keys")
                                             .method<&HyperGraph::contains>("contains", {"key"})
                                             .method<&HyperGraph::update>("update", {"payload", "id"})
                                             .method<&HyperGraph::add_edge>("add_edge", {"id", "vertices"})
                                             .method<&HyperGraph::remove_edge>("remove_edge", {"id"})
                                             .method<&HyperGraph::connect>("connect", {"edge_id", "node_id"})
                                             .method<&HyperGraph::disconnect>("disconnect", {"edge_id", "node_id"})
                                             .method<&HyperGraph::edges_list>("edges")
                                             .method<&HyperGraph::is_connected>("is_connected", {"edge_id", "node_id"})
                                             .method<&HyperGraph::edges_of>("edges_of", {"node_id"})
                                             .method<&HyperGraph::nodes_of>("nodes_of", {"edge_id"})
                                             .method<&HyperGraph::intersection>("intersection",
                                                                                 {"edge_id1", "edge_id2"})
                                             .method<&HyperGraph::degree>("degree", {"node_id"})
                                             .method<&HyperGraph::max_degree>("max_degree")
                                             .method<&HyperGraph::min_degree>("min_degree")
                                             .method<&HyperGraph::average_degree>("average_degree")
                                             .method<&HyperGraph::edge_size>("edge_size", {"edge_id"})
                                             .method<&HyperGraph::is_empty>("is_empty")
                                             .method<&HyperGraph::node_count>("node_count")
                                             .method<&HyperGraph::edge_count>("edge_count")
                                             .method<&HyperGraph::clear>("clear")
                                             .repr<&HyperGraph::sizing>()
                                             .pickle<&HyperGraph::state, &HyperGraph::from_state>()
                                             .contains<&HyperGraph::contains, &HyperGraph::is_empty>()
                                             .gc<&HyperGraph::visit>()
                                             .iter<&HyperGraph::cursor>();

}  // namespace morvena
