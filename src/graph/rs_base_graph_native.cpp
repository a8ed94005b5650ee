// BaseGraph: the undirected, unweighted graph of Python payloads under
// graph-assigned ids. Self-loops are allowed and stored once; there are no
// parallel edges. All of it is the shared graph core; this file names it.
#include "graph/graph_core.hpp"
#include "graph/graph_algorithms.hpp"
#include "graph/graph_pickle.hpp"

namespace morvena {

namespace {
struct BaseGraphKind : graph::UndirectedKind {
    using Weight = NoWeight;
};
}  // namespace

using BaseGraph = Graph<BaseGraphKind>;

extern const ClassDef base_graph_class = PyClass<BaseGraph>("BaseGraph")
    .method<&BaseGraph::insert>("insert", {"item"})
    .method<&BaseGraph::remove>("remove", {"key"})
    .method<&BaseGraph::extract>("extract", {"key"})
    .method<&BaseGraph::keys>("keys")
    .method<&BaseGraph::contains>("contains", {"key"})
    .method<&BaseGraph::update>("update", {"item", "index"})
    .method<&BaseGraph::add_edge>("add_edge", {"x", "y"})
    .method<&BaseGraph::remove_edge>("remove_edge", {"x", "y"})
    .method<&BaseGraph::is_connected>("is_connected", {"x", "y"})
    .method<&BaseGraph::neighbours>("neighbours", {"index"})
    .method<&BaseGraph::edges>("edges")
    .method<&BaseGraph::bfs_list>("bfs_list", {"start_id", "return_value"})
    .method<&BaseGraph::dfs_list>("dfs_list", {"start_id", "return_value"})
    .method<&BaseGraph::degree>("degree", {"id"})
    .method<&BaseGraph::edge_count>("edge_count")
    .method<&BaseGraph::has_path>("has_path", {"x", "y"})
    .method<&BaseGraph::is_empty>("is_empty")
    .method<&BaseGraph::node_count>("node_coutn")
    .method<&BaseGraph::clear>("clear")
    .method<&BaseGraph::shortest_path>("shortest_path", {"x", "y"})
    .method<&BaseGraph::distance>("distance", {"x", "y"})
    .method<&BaseGraph::distances>("distances", {"x"})
    .method<&BaseGraph::components>("components")
    .repr<&BaseGraph::sizing>()
    .pickle<&graph::graph_state<BaseGraph>, &graph::graph_from_state<BaseGraph>>()
    .contains<&BaseGraph::contains, &BaseGraph::is_empty>()
    .gc<&BaseGraph::visit>()
    .iter<&BaseGraph::cursor>();

}  // namespace morvena
