// Digraph: the directed, unweighted graph. An edge runs from `from_id` to
// `to_id`; self-loops are refused, opposite edges are independent. Adds the
// transpose and the cycle test to the shared graph core.
#include "graph/graph_core.hpp"
#include "graph/graph_algorithms.hpp"
#include "graph/graph_pickle.hpp"

namespace morvena {

namespace {
struct DigraphKind {
    static constexpr bool directed = true;
    using Weight = NoWeight;
    static constexpr bool self_loops = false;
    static constexpr bool path_from_first = true;  // has_path(x, y) asks x -> y
    static constexpr graph::EdgeMessages add{"To_id node not found in current Graph",
                                             "From_id node not found in current Graph"};
    static constexpr graph::EdgeMessages query{"To_id node not found in present Graph",
                                               "From_id node not found in present Graph"};
    static constexpr graph::EdgeMessages path{"X node not found in current Graph", "Y node not found in current Graph"};
    static constexpr const char *self_edge = "Nodes cannot be connected to themselves";
    static constexpr const char *no_connection = "No connection between specified nodes";
};
}  // namespace

using Digraph = Graph<DigraphKind>;

extern const ClassDef digraph_class = PyClass<Digraph>("Digraph")
    .method<&Digraph::insert>("insert", {"item"})
    .method<&Digraph::remove>("remove", {"key"})
    .method<&Digraph::extract>("extract", {"key"})
    .method<&Digraph::keys>("keys")
    .method<&Digraph::contains>("contains", {"key"})
    .method<&Digraph::update>("update", {"item", "index"})
    .method<&Digraph::neighbours>("neighbours", {"index"})
    .method<&Digraph::edges>("edges")
    .method<&Digraph::bfs_list>("bfs_list", {"start_id", "return_value"})
    .method<&Digraph::dfs_list>("dfs_list", {"start_id", "return_value"})
    .method<&Digraph::degree>("degree", {"id"})
    .method<&Digraph::has_path>("has_path", {"x", "y"})
    .method<&Digraph::is_empty>("is_empty")
    .method<&Digraph::clear>("clear")
    .method<&Digraph::add_edge>("add_edge", {"to_id", "from_id"})
    .method<&Digraph::is_connected>("is_connected", {"to_id", "from_id"})
    .method<&Digraph::remove_edge>("remove_edge", {"to_id", "from_id"})
    .method<&Digraph::edge_count>("edge_count")
    .method<&Digraph::node_count>("node_count")
    .method<&Digraph::transpose>("transpose")
    .method<&Digraph::has_cycle>("has_cycle")
    .method<&Digraph::shortest_path>("shortest_path", {"x", "y"})
    .method<&Digraph::distance>("distance", {"x", "y"})
    .method<&Digraph::distances>("distances", {"x"})
    .method<&Digraph::topological_order>("topological_order")
    .method<&Digraph::components>("components")
    .method<&Digraph::strong_components>("strong_components")
    .repr<&Digraph::sizing>()
    .pickle<&graph::graph_state<Digraph>, &graph::graph_from_state<Digraph>>()
    .contains<&Digraph::contains, &Digraph::is_empty>()
    .gc<&Digraph::visit>()
    .iter<&Digraph::cursor>();

}  // namespace morvena
