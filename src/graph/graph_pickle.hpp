// Pickling for the four pairwise graphs. The state is the next id, the node
// ids (packed words) and payloads in order, and every edge as a (from, to)
// pair of packed ids in an order that re-adding them reproduces: each node's
// edges (successors) in their order, with their weights. Restoring re-adds
// nodes under their ids and edges in that order through the graph's own
// operations, so whatever the graph's layout, it ends up as it was saved.
#pragma once

#include "graph/graph_core.hpp"
#include "pickle.hpp"

#include <algorithm>
#include <bit>

namespace morvena::graph {

// A graph needs pages for every id up to its next one; no graph that could
// have been built is anywhere near this many ids (slots stop at 2^31).
inline constexpr std::uint64_t max_saved_id = std::uint64_t{1} << 32;

template <class G>
Ref graph_state(const G &graph) {
    // The nodes, and each node's edges as positions into one flat array.
    std::vector<std::uint64_t> ids;
    std::vector<PyObject *> payloads;
    std::vector<std::size_t> first{0};
    std::vector<std::uint64_t> neighbour;
    std::vector<double> weight;
    graph.each_node_and_link(
        [&](std::uint64_t id, PyObject *payload) {
            if (!ids.empty()) first.push_back(neighbour.size());
            ids.push_back(id);
            payloads.push_back(payload);
        },
        [&](std::uint64_t id, double w) {
            neighbour.push_back(id);
            weight.push_back(w);
        });
    first.push_back(neighbour.size());
    if (ids.empty()) first.assign(1, 0);
    std::size_t nodes = ids.size();
    auto index_of = [&](std::uint64_t id) {
        return static_cast<std::size_t>(std::lower_bound(ids.begin(), ids.end(), id) - ids.begin());
    };
    // (from index, position in from's list) of every edge in the saved order.
    std::vector<std::pair<std::size_t, std::size_t>> order;
    if constexpr (G::is_directed) {
        order.reserve(neighbour.size());
        for (std::size_t k = 0; k < nodes; ++k)
            for (std::size_t at = first[k]; at < first[k + 1]; ++at) order.emplace_back(k, at);
    } else {
        // An undirected edge stands in both ends' lists, each in the order the
        // edges were added, so one order of additions fits every list: take an
        // edge once it heads both of its ends' remaining lists.
        std::vector<std::size_t> other(neighbour.size());
        for (std::size_t at = 0; at < neighbour.size(); ++at) other[at] = index_of(neighbour[at]);
        std::vector<std::size_t> next(first.begin(), first.end() - 1);
        std::vector<std::size_t> ready;
        auto heads_both = [&](std::size_t k) {
            if (next[k] == first[k + 1]) return false;
            std::size_t v = other[next[k]];
            return v == k || (next[v] < first[v + 1] && other[next[v]] == k);
        };
        for (std::size_t k = 0; k < nodes; ++k)
            if (heads_both(k)) ready.push_back(k);
        while (!ready.empty()) {
            std::size_t k = ready.back();
            ready.pop_back();
            if (!heads_both(k)) continue;  // taken from its other end already
            std::size_t v = other[next[k]];
            order.emplace_back(k, next[k]++);
            if (v != k) ++next[v];
            for (std::size_t end : {k, v})
                if (heads_both(end)) ready.push_back(end);
        }
        for (std::size_t k = 0; k < nodes; ++k)
            if (next[k] != first[k + 1]) throw_panic("graph edge orders admit no order of additions");
    }
    BytesBuilder id_bytes(nodes * 8);
    ListBuilder payload_list(nodes);
    for (std::size_t k = 0; k < nodes; ++k) {
        store_u64(id_bytes.data() + 8 * k, ids[k]);
        payload_list.push_borrowed(payloads[k]);
    }
    BytesBuilder edges(order.size() * 16);
    BytesBuilder weights(G::is_weighted ? order.size() * 8 : 0);
    for (std::size_t e = 0; e < order.size(); ++e) {
        auto [k, at] = order[e];
        store_u64(edges.data() + 16 * e, ids[k]);
        store_u64(edges.data() + 16 * e + 8, neighbour[at]);
        if constexpr (G::is_weighted) store_u64(weights.data() + 8 * e, std::bit_cast<std::uint64_t>(weight[at]));
    }
    return make_tuple(to_python(graph.next_id()), std::move(id_bytes).finish(), std::move(payload_list).finish(),
                      std::move(edges).finish(), std::move(weights).finish());
}

template <class G>
G graph_from_state(const StateReader &state) {
    state.fields(5);
    std::uint64_t next_id = state.u64(0, "the next id");
    std::string_view id_bytes = state.bytes(1, 8, "the node ids");
    List payloads = state.list(2, "the payloads");
    std::string_view edges = state.bytes(3, 16, "the edges");
    std::string_view weights = state.bytes(4, 8, "the weights");
    std::size_t nodes = id_bytes.size() / 8, edge_count = edges.size() / 16;
    if (static_cast<std::size_t>(payloads.size()) != nodes) state.invalid("the node ids and payloads differ in number");
    if (weights.size() != (G::is_weighted ? edge_count * 8 : 0)) state.invalid("the weights do not match the edges");
    if (next_id > max_saved_id) state.out_of_range("the next id");
    std::vector<std::uint64_t> ids(nodes);
    for (std::size_t k = 0; k < nodes; ++k) {
        ids[k] = load_u64(id_bytes.data() + 8 * k);
        if (ids[k] == 0 || ids[k] >= next_id || (k > 0 && ids[k] <= ids[k - 1]))
            state.invalid("the node ids must ascend from 1 and stay below the next id");
    }
    for (std::size_t e = 0; e < 2 * edge_count; ++e)
        if (!std::binary_search(ids.begin(), ids.end(), load_u64(edges.data() + 8 * e)))
            state.invalid("an edge names a missing node");
    G out;
    // Storing payloads runs no Python code, so the list is read in place.
    for (std::size_t k = 0; k < nodes; ++k) {
        out.skip_to_id(ids[k]);
        out.insert(Ref::borrow(payloads[static_cast<Py_ssize_t>(k)]));
    }
    out.skip_to_id(next_id);
    for (std::size_t e = 0; e < edge_count; ++e) {
        std::uint64_t from = load_u64(edges.data() + 16 * e), to = load_u64(edges.data() + 16 * e + 8);
        std::uint64_t before = out.edge_count();
        // The directed classes name an edge (to, from).
        std::uint64_t first = G::is_directed ? to : from, second = G::is_directed ? from : to;
        if constexpr (G::is_weighted)
            out.add_weighted_edge(first, second, std::bit_cast<double>(load_u64(weights.data() + 8 * e)));
        else
            out.add_edge(first, second);
        if (out.edge_count() == before) state.invalid("an edge is listed twice");
    }
    return out;
}

}  // namespace morvena::graph
