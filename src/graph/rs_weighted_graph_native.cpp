// WeightedGraph: the undirected graph whose edges carry a float weight, stored
// unchanged (NaN, infinities and negatives included) and kept equal in both
// directions. The shared graph core with weights.
#include "graph/graph_core.hpp"
#include "graph/graph_algorithms.hpp"
#include "graph/graph_pickle.hpp"

namespace morvena {

namespace {
struct WeightedGraphKind : graph::UndirectedKind {
    using Weight = double;
};
}  // namespace

using WeightedGraph = Graph<WeightedGraphKind>;

extern const ClassDef weighted_graph_class = PyClass<WeightedGraph>("WeightedGraph")
    .method<&WeightedGraph::insert>("insert", {"item"})
    .method<&WeightedGraph::remove>("remove", {"key"})
    .method<&WeightedGraph::extract>("extract", {"key"})
    .method<&WeightedGraph::keys>("keys")
    .method<&WeightedGraph::contains>("contains", {"key"})
    .method<&WeightedGraph::update>("update", {"item", "index"})
    .method<&WeightedGraph::remove_edge>("remove_edge", {"x", "y"})
    .method<&WeightedGraph::is_connected>("is_connected", {"x", "y"})
    .method<&WeightedGraph::edges>("edges")
    .method<&WeightedGraph::bfs_list>("bfs_list", {"start_id", "return_value"})
    .method<&WeightedGraph::dfs_list>("dfs_list", {"start_id", "return_value"})
    .method<&WeightedGraph::degree>("degree", {"id"})
    .method<&WeightedGraph::edge_count>("edge_count")
    .method<&WeightedGraph::has_path>("has_path", {"x", "y"})
    .method<&WeightedGraph::is_empty>("is_empty")
    .method<&WeightedGraph::clear>("clear")
    .method<&WeightedGraph::add_weighted_edge>("add_edge", {"x", "y", "weight"})
    .method<&WeightedGraph::get_weight>("get_weight", {"x", "y"})
    .method<&WeightedGraph::total_weight>("total_weight")
    .method<&WeightedGraph::neighbours>("neighbours", {"index"})
    .method<&WeightedGraph::weighted_degree>("weighted_degree", {"id"})
    .method<&WeightedGraph::node_count>("node_count")
    .method<&WeightedGraph::density>("density")
    .method<&WeightedGraph::shortest_path>("shortest_path", {"x", "y"})
    .method<&WeightedGraph::distance>("distance", {"x", "y"})
    .method<&WeightedGraph::distances>("distances", {"x"})
    .method<&WeightedGraph::components>("components")
    .repr<&WeightedGraph::sizing>()
    .pickle<&graph::graph_state<WeightedGraph>, &graph::graph_from_state<WeightedGraph>>()
    .contains<&WeightedGraph::contains, &WeightedGraph::is_empty>()
    .gc<&WeightedGraph::visit>()
    .iter<&WeightedGraph::cursor>();

}  // namespace morvena
