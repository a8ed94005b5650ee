// Shortest paths, topological order and components for the four pairwise graphs.
// The searches are free templates over a node's edges (a callable that hands
// each neighbour slot and weight to a visitor), so they depend on the core only
// through that walk, the insertion-order walk and the slot -> id mapping; the
// Graph members at the bottom bind them. Every result is a pure function of
// the graph: ties go by insertion order (ascending id) and edge order, never by
// slot numbers or memory layout. Nothing recurses: a million-node path costs
// heap memory, not C stack.
#pragma once

#include "graph/graph_core.hpp"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <utility>
#include <vector>

namespace morvena {
namespace graph {

// The two views of the core the searches use: a node's neighbours (successors
// when directed) in edge order, handed over as (slot, weight), and slot -> id.
template <class Adjacencies>
auto edge_walk(const Adjacencies &adj) {
    return [&adj](std::uint32_t slot, auto &&visit) {
        adj[slot].out.for_each([&](const auto &e) { visit(e.slot, e.weight); });
    };
}
template <class Nodes>
auto id_lookup(const Nodes &nodes) {
    return [&nodes](std::uint32_t slot) { return nodes[slot].id; };
}

// Names the weight exactly as Python would print it, so a caller can find it.
[[noreturn, gnu::cold, gnu::noinline]] inline void throw_bad_weight(double weight) {
    char *text = PyOS_double_to_string(weight, 'r', 0, Py_DTSF_ADD_DOT_0, nullptr);
    if (!text) throw_python_error();
    std::string message = std::string("Edge weight ") + text + " is negative or NaN: shortest paths need weights >= 0";
    PyMem_Free(text);
    throw_value_error(message);
}

// What a single-source search leaves behind: each reached node's distance and
// the node it was first reached from, and the nodes in the order they were settled.
template <class D>
struct Search {
    explicit Search(std::size_t slots) : parent(slots, no_slot), distance(slots) {}
    bool reached(std::uint32_t slot) const noexcept { return parent[slot] != no_slot; }

    std::vector<std::uint32_t> parent;  // no_slot: not reached; the source is its own parent
    std::vector<D> distance;
    std::vector<std::uint32_t> settled;
};

// Fewest edges. The first node to reach another becomes its parent, so ties
// follow the search order, which is edge order. With a target (not no_slot) the
// search stops as soon as the target is reached.
template <class Edges>
Search<std::uint64_t> breadth_first(std::size_t slots, std::uint32_t source, std::uint32_t target, Edges &&edges_of) {
    Search<std::uint64_t> s(slots);
    s.parent[source] = source;
    s.settled.push_back(source);
    // `settled` doubles as the queue: breadth first, a node is settled when found.
    for (std::size_t next = 0; next < s.settled.size(); ++next) {
        if (target != no_slot && s.reached(target)) break;
        std::uint32_t u = s.settled[next];
        std::uint64_t d = s.distance[u] + 1;
        edges_of(u, [&](std::uint32_t v, auto) {
            if (s.reached(v)) return;
            s.parent[v] = u;
            s.distance[v] = d;
            s.settled.push_back(v);
        });
    }
    return s;
}

// Least total weight: Dijkstra with a binary heap and lazy deletion (a node may
// sit in the heap more than once; only its first, shortest pop counts). Among
// equal distances the node inserted first settles first, and a node keeps the
// first parent that offered its final distance. Every scanned edge has its
// weight checked, an edge back to a settled node or a self-loop included; with
// a target the search stops when the target settles, before scanning its edges.
template <class Edges, class IdOf>
Search<double> dijkstra(std::size_t slots, std::uint32_t source, std::uint32_t target, Edges &&edges_of,
                        IdOf &&id_of) {
    struct Pending {
        double distance;
        std::uint64_t id;
        std::uint32_t slot;
        bool operator>(const Pending &o) const noexcept {
            return distance > o.distance || (distance == o.distance && id > o.id);
        }
    };
    Search<double> s(slots);
    SlotSet done(slots);
    std::vector<Pending> heap{{0.0, id_of(source), source}};
    s.parent[source] = source;
    s.distance[source] = 0.0;
    while (!heap.empty()) {
        std::pop_heap(heap.begin(), heap.end(), std::greater<>());
        const Pending top = heap.back();
        heap.pop_back();
        if (!done.add(top.slot)) continue;
        s.settled.push_back(top.slot);
        if (top.slot == target) break;
        edges_of(top.slot, [&](std::uint32_t v, double weight) {
            if (!(weight >= 0.0)) throw_bad_weight(weight);
            if (done.contains(v)) return;
            double d = top.distance + weight;
            if (s.reached(v) && !(d < s.distance[v])) return;
            s.parent[v] = top.slot;
            s.distance[v] = d;
            heap.push_back({d, id_of(v), v});
            std::push_heap(heap.begin(), heap.end(), std::greater<>());
        });
    }
    return s;
}

// Slots on the route from the search's source to `target`, in travel order.
template <class D>
std::vector<std::uint32_t> route_to(const Search<D> &s, std::uint32_t target) {
    std::vector<std::uint32_t> route{target};
    for (std::uint32_t v = target; s.parent[v] != v; v = s.parent[v]) route.push_back(s.parent[v]);
    std::reverse(route.begin(), route.end());
    return route;
}

// Union by size with path halving: near-constant time per edge, no recursion.
class DisjointSets {
public:
    explicit DisjointSets(std::size_t slots) : parent_(slots), size_(slots, 1) {
        for (std::size_t i = 0; i < slots; ++i) parent_[i] = static_cast<std::uint32_t>(i);
    }
    std::uint32_t find(std::uint32_t x) noexcept {
        while (parent_[x] != x) x = parent_[x] = parent_[parent_[x]];
        return x;
    }
    void unite(std::uint32_t a, std::uint32_t b) noexcept {
        a = find(a);
        b = find(b);
        if (a == b) return;
        if (size_[a] < size_[b]) std::swap(a, b);
        parent_[b] = a;
        size_[a] += size_[b];
    }

private:
    std::vector<std::uint32_t> parent_, size_;
};

// Tarjan's strongly connected components with an explicit stack of (node, next
// edge) frames instead of recursion. `order` lists the live slots; the result
// labels each with its component (labels below slots, otherwise arbitrary).
template <class Edges>
std::vector<std::uint32_t> strong_labels(std::size_t slots, const std::vector<std::uint32_t> &order, Edges &&edges_of) {
    // A snapshot of the edges as one flat array gives the frames a position to
    // resume from, whatever the core's adjacency layout.
    // Positions are 64-bit: only a node's own edges are bounded by 32 bits.
    std::vector<std::pair<std::size_t, std::size_t>> range(slots);
    std::vector<std::uint32_t> targets;
    for (std::uint32_t slot : order) {
        range[slot].first = targets.size();
        edges_of(slot, [&](std::uint32_t v, auto) { targets.push_back(v); });
        range[slot].second = targets.size();
    }
    // index 0 means unvisited; a visited node without a label is on the stack.
    std::vector<std::uint32_t> index(slots, 0), low(slots), label(slots, no_slot), stack;
    std::vector<std::pair<std::uint32_t, std::size_t>> frames;
    std::uint32_t counter = 0, labels = 0;
    auto enter = [&](std::uint32_t v) {
        index[v] = low[v] = ++counter;
        stack.push_back(v);
        frames.push_back({v, range[v].first});
    };
    for (std::uint32_t root : order) {
        if (index[root]) continue;
        enter(root);
        while (!frames.empty()) {
            auto [v, next] = frames.back();
            if (next < range[v].second) {
                ++frames.back().second;
                std::uint32_t w = targets[next];
                if (!index[w])
                    enter(w);
                else if (label[w] == no_slot)
                    low[v] = std::min(low[v], index[w]);
                continue;
            }
            frames.pop_back();
            if (low[v] == index[v]) {
                std::uint32_t w;
                do {
                    w = stack.back();
                    stack.pop_back();
                    label[w] = labels;
                } while (w != v);
                ++labels;
            }
            if (!frames.empty()) low[frames.back().first] = std::min(low[frames.back().first], low[v]);
        }
    }
    return label;
}

// The groups that `label` gives the nodes of `order`: each group's ids in
// insertion order, the groups ordered by their first node.
template <class IdOf>
Ref group_listing(const std::vector<std::uint32_t> &order, const std::vector<std::uint32_t> &label, IdOf &&id_of) {
    std::vector<std::uint32_t> number(label.size(), no_slot), sizes;
    for (std::uint32_t slot : order) {
        std::uint32_t &n = number[label[slot]];
        if (n == no_slot) {
            n = static_cast<std::uint32_t>(sizes.size());
            sizes.push_back(0);
        }
        ++sizes[n];
    }
    std::vector<ListBuilder> groups;
    groups.reserve(sizes.size());
    for (std::uint32_t size : sizes) groups.emplace_back(size);
    for (std::uint32_t slot : order) groups[number[label[slot]]].push(to_python(id_of(slot)));
    ListBuilder result(groups.size());
    for (ListBuilder &group : groups) result.push(std::move(group).finish());
    return std::move(result).finish();
}

}  // namespace graph

// ---- the Graph members ------------------------------------------------------

template <class Kind>
Ref Graph<Kind>::shortest_path(std::uint64_t first, std::uint64_t second) const {
    auto [a, b] = resolve(first, second, Kind::path);
    auto [source, target] = Kind::path_from_first ? std::pair(a, b) : std::pair(b, a);
    auto edges_of = graph::edge_walk(adj_);
    auto id_of = graph::id_lookup(nodes_);
    auto route = [&](const auto &s) { return s.reached(target) ? listing(graph::route_to(s, target), false) : Ref::none(); };
    if constexpr (weighted)
        return route(graph::dijkstra(nodes_.size(), source, target, edges_of, id_of));
    else
        return route(graph::breadth_first(nodes_.size(), source, target, edges_of));
}

template <class Kind>
auto Graph<Kind>::distance(std::uint64_t first, std::uint64_t second) const -> std::optional<Distance> {
    auto [a, b] = resolve(first, second, Kind::path);
    auto [source, target] = Kind::path_from_first ? std::pair(a, b) : std::pair(b, a);
    auto edges_of = graph::edge_walk(adj_);
    auto id_of = graph::id_lookup(nodes_);
    auto length = [&](const auto &s) -> std::optional<Distance> {
        if (!s.reached(target)) return std::nullopt;
        return s.distance[target];
    };
    if constexpr (weighted)
        return length(graph::dijkstra(nodes_.size(), source, target, edges_of, id_of));
    else
        return length(graph::breadth_first(nodes_.size(), source, target, edges_of));
}

// The one-id form names its node as has_path names the node it searches from.
template <class Kind>
Ref Graph<Kind>::distances(std::uint64_t source_id) const {
    require_nodes();
    std::uint32_t source =
        slot_or(source_id, Kind::path_from_first ? Kind::path.first_missing : Kind::path.second_missing);
    auto edges_of = graph::edge_walk(adj_);
    auto id_of = graph::id_lookup(nodes_);
    auto as_dict = [&](const auto &s) {
        Ref dict = checked(PyDict_New());
        for (std::uint32_t slot : s.settled) {
            Ref key = to_python(id_of(slot)), value = to_python(s.distance[slot]);
            if (PyDict_SetItem(dict.get(), key.get(), value.get()) < 0) throw_python_error();
        }
        return dict;
    };
    if constexpr (weighted)
        return as_dict(graph::dijkstra(nodes_.size(), source, no_slot, edges_of, id_of));
    else
        return as_dict(graph::breadth_first(nodes_.size(), source, no_slot, edges_of));
}

// Kahn's algorithm with the ready nodes in a min-heap of ids: of the nodes
// whose predecessors are all placed, the one inserted first comes next.
template <class Kind>
Ref Graph<Kind>::topological_order() const
    requires directed
{
    require_nodes();
    auto edges_of = graph::edge_walk(adj_);
    auto id_of = graph::id_lookup(nodes_);
    std::vector<std::uint32_t> pending(nodes_.size(), 0), placed;
    for_each_slot([&](std::uint32_t slot) { edges_of(slot, [&](std::uint32_t v, auto) { ++pending[v]; }); });
    // Collected in insertion order, the first ready nodes already form a heap.
    std::vector<std::pair<std::uint64_t, std::uint32_t>> ready;
    for_each_slot([&](std::uint32_t slot) {
        if (pending[slot] == 0) ready.push_back({id_of(slot), slot});
    });
    placed.reserve(node_count_);
    while (!ready.empty()) {
        std::pop_heap(ready.begin(), ready.end(), std::greater<>());
        std::uint32_t slot = ready.back().second;
        ready.pop_back();
        placed.push_back(slot);
        edges_of(slot, [&](std::uint32_t v, auto) {
            if (--pending[v] != 0) return;
            ready.push_back({id_of(v), v});
            std::push_heap(ready.begin(), ready.end(), std::greater<>());
        });
    }
    if (placed.size() != node_count_) throw_value_error("Graph contains a cycle: no topological order exists");
    return listing(placed, false);
}

// Connected components, or weakly connected ones when directed: each edge
// joins its two ends whatever its direction.
template <class Kind>
Ref Graph<Kind>::components() const {
    require_nodes();
    auto edges_of = graph::edge_walk(adj_);
    auto id_of = graph::id_lookup(nodes_);
    graph::DisjointSets sets(nodes_.size());
    std::vector<std::uint32_t> order, label(nodes_.size(), no_slot);
    order.reserve(node_count_);
    for_each_slot([&](std::uint32_t slot) {
        order.push_back(slot);
        edges_of(slot, [&](std::uint32_t v, auto) { sets.unite(slot, v); });
    });
    for (std::uint32_t slot : order) label[slot] = sets.find(slot);
    return graph::group_listing(order, label, id_of);
}

template <class Kind>
Ref Graph<Kind>::strong_components() const
    requires directed
{
    require_nodes();
    auto edges_of = graph::edge_walk(adj_);
    auto id_of = graph::id_lookup(nodes_);
    std::vector<std::uint32_t> order;
    order.reserve(node_count_);
    for_each_slot([&](std::uint32_t slot) { order.push_back(slot); });
    return graph::group_listing(order, graph::strong_labels(nodes_.size(), order, edges_of), id_of);
}

}  // namespace morvena
