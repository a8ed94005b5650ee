// BinarySearchTree: an unbalanced search tree of Python objects ordered by their
// rich comparison, the caller's value on the left. Equal values share one node
// whose count says how often the value was added; `size` sums the counts.
//
// Every comparison of an operation happens while walking down, before the tree
// is touched, so a comparison that raises leaves the tree as it was.
#include "trees/search_tree.hpp"

namespace morvena {

namespace {

struct BstNode : PyAllocated {
    static constexpr std::string_view unordered = "Cannot compare Python Objects";

    Ref value;
    BstNode *left = nullptr;
    BstNode *right = nullptr;
    std::uint64_t count = 1;

    explicit BstNode(Ref v, std::uint64_t n = 1) noexcept : value(std::move(v)), count(n) {}
    BstNode *detached_copy() const { return new BstNode(value.clone(), count); }
};

constexpr std::string_view empty_message = "No elements currently available in the BST";

}  // namespace

struct BinarySearchTree {
    using Tree = SearchTree<BstNode>;
    using Order = Tree::Order;
    Tree tree;

    explicit BinarySearchTree(bool allow_duplicates) : tree(allow_duplicates) {}
    BinarySearchTree(Tree &&copied) noexcept : tree(std::move(copied)) {}

    void add(PyObject *value) {
        BstNode **slot = &tree.root;
        while (BstNode *node = *slot) {
            switch (compare(value, node->value.get(), BstNode::unordered)) {
            case Ordering::Less: slot = &node->left; break;
            case Ordering::Greater: slot = &node->right; break;
            case Ordering::Equal:
                // Without duplicates an equal value is ignored, silently.
                if (tree.allow_duplicates) {
                    ++node->count;
                    ++tree.size;
                }
                return;
            }
        }
        *slot = new BstNode(Ref::borrow(value));
        ++tree.size;
    }

    Ref remove(PyObject *value) {
        BstNode **slot = &tree.root;
        for (;;) {
            BstNode *node = *slot;
            if (!node) throw_value_error("Value not found in the current BST");
            Ordering order = compare(value, node->value.get(), BstNode::unordered);
            if (order == Ordering::Less) {
                slot = &node->left;
            } else if (order == Ordering::Greater) {
                slot = &node->right;
            } else {
                --tree.size;
                return take(slot);
            }
        }
    }

    // Removes the nodes that are leaves now; their parents may become leaves
    // but stay, so repeated calls peel the tree one layer at a time.
    void prune() {
        if (tree.size == 0) throw_value_error("The current Binary Search Tree holds no nodes");
        std::vector<BstNode *> leaves;
        std::vector<BstNode **> stack;
        if (tree.root) stack.push_back(&tree.root);
        while (!stack.empty()) {
            BstNode **slot = stack.back();
            stack.pop_back();
            BstNode *node = *slot;
            if (!node->left && !node->right) {
                leaves.push_back(node);
                *slot = nullptr;
                tree.size -= node->count;
                continue;
            }
            if (node->left) stack.push_back(&node->left);
            if (node->right) stack.push_back(&node->right);
        }
        // The tree is consistent again before any value is released.
        for (BstNode *leaf : leaves) delete leaf;
    }

    Ref peek_root() const { return tree.peek_root(empty_message); }
    bool contains(PyObject *value) const { return tree.contains(value); }
    void extend(List items) { add_each(*this, items); }
    Ref min() const { return tree.extreme<&BstNode::left>(empty_message, "Invalid Tree Structure"); }
    Ref max() const { return tree.extreme<&BstNode::right>(empty_message, "Invalid Tree Structure"); }
    std::uint64_t at_depth(PyObject *value) const { return tree.at_depth(value); }
    std::uint64_t height() const { return tree.measured_height(); }
    std::uint64_t size() const { return tree.size; }
    bool is_empty() const { return tree.size == 0; }
    // The listings other than in-order take the exclusive borrow, as does copy:
    // that is this class's published borrow kind, kept for compatibility.
    Ref inorder_list() const { return tree.listing<Order::In>(empty_message); }
    Ref preorder_list() { return tree.listing<Order::Pre>(empty_message); }
    Ref postorder_list() { return tree.listing<Order::Post>(empty_message); }
    Ref bfs_list() { return tree.listing<Order::Level>(empty_message); }
    BinarySearchTree copy() { return BinarySearchTree(tree.copy(empty_message)); }
    void clear() { tree.clear(); }
    void visit(Visitor &v) const { tree.visit(v); }
    Tree::Cursor cursor() const { return tree.cursor(); }

    void check() const {
        tree.check([](const BstNode *) {});
    }

    Ref init_args() const { return make_tuple(to_python(tree.allow_duplicates)); }
    Ref state() const { return tree.state(); }
    static BinarySearchTree from_state(const StateReader &state) {
        return BinarySearchTree(Tree::from_state(state, [](BstNode *) {}));
    }

private:
    // Unlinks one occurrence of the node in `slot` and returns its value. A node
    // with two children takes over its in-order successor's value and count, and
    // the successor's node goes instead.
    static Ref take(BstNode **slot) {
        BstNode *node = *slot;
        if (node->count > 1) {
            --node->count;
            return node->value.clone();
        }
        Ref value = std::move(node->value);
        if (node->left && node->right) {
            BstNode **successor = &node->right;
            while ((*successor)->left) successor = &(*successor)->left;
            BstNode *next = *successor;
            *successor = next->right;
            node->value = std::move(next->value);
            node->count = next->count;
            delete next;
        } else {
            *slot = node->left ? node->left : node->right;
            delete node;
        }
        return value;
    }
};

template <>
inline constexpr bool reads_only<&BinarySearchTree::preorder_list> = true;
template <>
inline constexpr bool reads_only<&BinarySearchTree::postorder_list> = true;
template <>
inline constexpr bool reads_only<&BinarySearchTree::bfs_list> = true;
template <>
inline constexpr bool reads_only<&BinarySearchTree::copy> = true;

extern const ClassDef binary_search_tree_class =
    PyClass<BinarySearchTree>("BinarySearchTree")
        .init<bool>({"allow_duplicates"})
        .method<&BinarySearchTree::add>("add", {"value"})
        .method<&BinarySearchTree::remove>("remove", {"value"})
        .method<&BinarySearchTree::prune>("prune")
        .method<&BinarySearchTree::peek_root>("peek_root")
        .method<&BinarySearchTree::contains>("contains", {"value"})
        .method<&BinarySearchTree::extend>("extend", {"iterable"})
        .method<&BinarySearchTree::min>("min")
        .method<&BinarySearchTree::max>("max")
        .method<&BinarySearchTree::at_depth>("at_depth", {"value"})
        .method<&BinarySearchTree::height>("height")
        .method<&BinarySearchTree::size>("size")
        .method<&BinarySearchTree::is_empty>("is_empty")
        .method<&BinarySearchTree::inorder_list>("inorder_list")
        .method<&BinarySearchTree::preorder_list>("preorder_list")
        .method<&BinarySearchTree::postorder_list>("postorder_list")
        .method<&BinarySearchTree::bfs_list>("bfs_list")
        .method<&BinarySearchTree::copy>("copy")
        .method<&BinarySearchTree::clear>("clear")
        .repr<&BinarySearchTree::inorder_list, &BinarySearchTree::is_empty>()
        .pickle<&BinarySearchTree::state, &BinarySearchTree::from_state>()
        .contains<&BinarySearchTree::contains>()
        .gc<&BinarySearchTree::visit>()
        .iter<&BinarySearchTree::cursor>();

}  // namespace morvena
