// WeightedGraph: the undirected graph whose edges carry a float weight, stored
// unchanged (NaN, infinities and negatives included) and kept equal in both
// directions. The shared graph core with weights.
#include "graph/graph_core.hpp"

namespace morvena {

namespace {
struct WeightedGraphKind : graph::UndirectedKind {
    using Weight = double;
};
}  // namespace

using WeightedGraph = Graph<WeightedGraphKind>;

extern const ClassDef weighted_graph_class =
    node_methods(PyClass<WeightedGraph>("WeightedGraph"))
        .method<&WeightedGraph::remove_edge>("remove_edge", {"x", "y"})
        .method<&WeightedGraph::is_connected>("is_connected", {"x", "y"})
        .method<&WeightedGraph::edge_count>("edge_count")
        .method<&WeightedGraph::has_path>("has_path", {"x", "y"})
        .method<&WeightedGraph::add_weighted_edge>("add_edge", {"x", "y", "weight"})
        .method<&WeightedGraph::get_weight>("get_weight", {"x", "y"})
        .method<&WeightedGraph::total_weight>("total_weight")
        .method<&WeightedGraph::neighbours>("neighbours", {"index"})
        .method<&WeightedGraph::weighted_degree>("weighted_degree", {"id"})
        .method<&WeightedGraph::node_count>("node_count")
        .method<&WeightedGraph::density>("density");

}  // namespace morvena
