// WeightedDigraph: the directed graph whose edges carry a float weight, stored
// unchanged. An edge runs from `from_id` to `to_id`; self-loops are allowed
// (and are cycles), opposite edges are independent with their own weights.
#include "graph/graph_core.hpp"
#include "graph/graph_algorithms.hpp"
#include "graph/graph_pickle.hpp"

namespace morvena {

namespace {
struct WeightedDigraphKind {
    static constexpr bool directed = true;
    using Weight = double;
    static constexpr bool self_loops = true;
    static constexpr bool path_from_first = false;  // has_path(to_id, from_id) asks from_id -> to_id
    static constexpr graph::EdgeMessages add{"To ID node not found in current Graph",
                                             "From ID node not found in current Graph"};
    static constexpr graph::EdgeMessages query = add;
    static constexpr graph::EdgeMessages path = add;
    static constexpr const char *self_edge = "Cannot connect nodes to oneself";
    static constexpr const char *no_connection = "No connection between x and y nodes";
};
}  // namespace

using WeightedDigraph = Graph<WeightedDigraphKind>;

extern const ClassDef weighted_digraph_class = PyClass<WeightedDigraph>("WeightedDigraph")
    .method<&WeightedDigraph::insert>("insert", {"item"})
    .method<&WeightedDigraph::remove>("remove", {"key"})
    .method<&WeightedDigraph::extract>("extract", {"key"})
    .method<&WeightedDigraph::keys>("keys")
    .method<&WeightedDigraph::contains>("contains", {"key"})
    .method<&WeightedDigraph::update>("update", {"item", "index"})
    .method<&WeightedDigraph::edges>("edges")
    .method<&WeightedDigraph::bfs_list>("bfs_list", {"start_id", "return_value"})
    .method<&WeightedDigraph::dfs_list>("dfs_list", {"start_id", "return_value"})
    .method<&WeightedDigraph::degree>("degree", {"id"})
    .method<&WeightedDigraph::is_empty>("is_empty")
    .method<&WeightedDigraph::clear>("clear")
    .method<&WeightedDigraph::add_weighted_edge>("add_edge", {"to_id", "from_id", "weight"})
    .method<&WeightedDigraph::is_connected>("is_connected", {"to_id", "from_id"})
    .method<&WeightedDigraph::remove_edge>("remove_edge", {"to_id", "from_id"})
    .method<&WeightedDigraph::get_weight>("get_weight", {"to_id", "from_id"})
    .method<&WeightedDigraph::has_path>("has_path", {"to_id", "from_id"})
    .method<&WeightedDigraph::total_weight>("total_weight")
    .method<&WeightedDigraph::neighbours>("neighbours", {"index"})
    .method<&WeightedDigraph::weighted_degree>("weighted_degree", {"id"})
    .method<&WeightedDigraph::edge_count>("edge_count")
    .method<&WeightedDigraph::node_count>("node_count")
    .method<&WeightedDigraph::density>("density")
    .method<&WeightedDigraph::transpose>("transpose")
    .method<&WeightedDigraph::has_cycle>("has_cycle")
    .method<&WeightedDigraph::shortest_path>("shortest_path", {"to_id", "from_id"})
    .method<&WeightedDigraph::distance>("distance", {"to_id", "from_id"})
    .method<&WeightedDigraph::distances>("distances", {"from_id"})
    .method<&WeightedDigraph::topological_order>("topological_order")
    .method<&WeightedDigraph::components>("components")
    .method<&WeightedDigraph::strong_components>("strong_components")
    .repr<&WeightedDigraph::sizing>()
    .pickle<&graph::graph_state<WeightedDigraph>, &graph::graph_from_state<WeightedDigraph>>()
    .contains<&WeightedDigraph::contains, &WeightedDigraph::is_empty>()
    .gc<&WeightedDigraph::visit>()
    .iter<&WeightedDigraph::cursor>();

}  // namespace morvena
