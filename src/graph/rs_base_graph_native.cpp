// BaseGraph: the undirected, unweighted graph of Python payloads under
// graph-assigned ids. Self-loops are allowed and stored once; there are no
// parallel edges. All of it is the shared graph core; this file names it.
#include "graph/graph_core.hpp"

namespace morvena {

namespace {
struct BaseGraphKind : graph::UndirectedKind {
    using Weight = NoWeight;
};
}  // namespace

using BaseGraph = Graph<BaseGraphKind>;

extern const ClassDef base_graph_class = node_methods(PyClass<BaseGraph>("BaseGraph"))
                                             .method<&BaseGraph::add_edge>("add_edge", {"x", "y"})
                                             .method<&BaseGraph::remove_edge>("remove_edge", {"x", "y"})
                                             .method<&BaseGraph::is_connected>("is_connected", {"x", "y"})
                                             .method<&BaseGraph::neighbours>("neighbours", {"index"})
                                             .method<&BaseGraph::edge_count>("edge_count")
                                             .method<&BaseGraph::has_path>("has_path", {"x", "y"})
                                             .method<&BaseGraph::node_count>("node_coutn");

}  // namespace morvena
