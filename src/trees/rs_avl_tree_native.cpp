// AVLTree: a height-balanced search tree of Python objects with occurrence
// counts. Invariants: search order, every stored height correct (a leaf is 1),
// every balance factor in -1..1 once a call returns, `size` = sum of counts.
//
// add and remove compare only on the way down and remember the slots they
// passed; retracing that path decides each rotation from balance factors alone.
// So a comparison that raises always happens before the tree changes, and the
// tree stays ordered, balanced and exactly counted whatever user code does.
#include "trees/search_tree.hpp"

#include <array>

namespace morvena {

namespace {

struct AvlNode : PyAllocated {
    static constexpr std::string_view unordered = "Cannot compare specified Python objects";

    Ref value;
    AvlNode *left = nullptr;
    AvlNode *right = nullptr;
    // Packed into one word so that a node is 32 bytes, the small-object
    // allocator's class below 48: no run of equal adds reaches 2^56, and no
    // tree that fits in memory is 255 levels high (see max_depth).
    std::uint64_t count : 56 = 1;
    std::uint64_t height : 8 = 1;

    explicit AvlNode(Ref v, std::uint64_t n = 1, int h = 1) noexcept : value(std::move(v)), count(n), height(h) {}
    AvlNode *detached_copy() const { return new AvlNode(value.clone(), count, height); }
};
static_assert(sizeof(AvlNode) == 32, "a node must fit the allocator's 32-byte class");

int height_of(const AvlNode *node) noexcept { return node ? static_cast<int>(node->height) : 0; }
int balance_of(const AvlNode *node) noexcept { return height_of(node->left) - height_of(node->right); }
void update_height(AvlNode *node) noexcept {
    node->height = 1 + std::max(height_of(node->left), height_of(node->right));
}

// Returns the subtree's new top; heights are fixed lower node first.
AvlNode *rotate_right(AvlNode *node) noexcept {
    AvlNode *left = node->left;
    node->left = left->right;
    left->right = node;
    update_height(node);
    update_height(left);
    return left;
}

AvlNode *rotate_left(AvlNode *node) noexcept {
    AvlNode *right = node->right;
    node->right = right->left;
    right->left = node;
    update_height(node);
    update_height(right);
    return right;
}

// Restores the balance of the subtree in `slot` after one insertion or removal
// below it. A child leaning the other way needs the double rotation; after an
// insertion that is exactly when the new value went to the inner grandchild.
void rebalance(AvlNode *&slot) noexcept {
    AvlNode *node = slot;
    update_height(node);
    int balance = balance_of(node);
    if (balance > 1) {
        if (balance_of(node->left) < 0) node->left = rotate_left(node->left);
        slot = rotate_right(node);
    } else if (balance < -1) {
        if (balance_of(node->right) > 0) node->right = rotate_right(node->right);
        slot = rotate_left(node);
    }
}

// A tree of height h holds at least Fibonacci(h + 2) - 1 nodes, so no tree that
// fits in memory is 96 levels deep; a path array of that size never overflows.
constexpr std::size_t max_depth = 96;

class Path {
public:
    void push(AvlNode **slot) {
        if (depth_ == max_depth) throw_panic("AVL tree deeper than its balance allows");
        slots_[depth_++] = slot;
    }
    // Rebalances every remembered slot, deepest first.
    void retrace() noexcept {
        while (depth_ > 0) rebalance(*slots_[--depth_]);
    }
    // After an insertion: stops once a subtree is as high as before, since
    // nothing above it can have changed.
    void retrace_insert() noexcept {
        while (depth_ > 0) {
            AvlNode *&slot = *slots_[--depth_];
            auto before = slot->height;
            rebalance(slot);
            if (slot->height == before) return;
        }
    }

private:
    std::array<AvlNode **, max_depth> slots_;
    std::size_t depth_ = 0;
};

constexpr std::string_view empty_message = "No elements currently available in AVL Tree";

}  // namespace

struct AVLTree {
    using Tree = SearchTree<AvlNode>;
    using Order = Tree::Order;
    Tree tree;

    explicit AVLTree(bool allow_duplicates) : tree(allow_duplicates) {}
    AVLTree(Tree &&copied) noexcept : tree(std::move(copied)) {}

    void add(PyObject *value) {
        Path path;
        AvlNode **slot = &tree.root;
        while (AvlNode *node = *slot) {
            switch (compare(value, node->value.get(), AvlNode::unordered)) {
            case Ordering::Less: path.push(slot); slot = &node->left; break;
            case Ordering::Greater: path.push(slot); slot = &node->right; break;
            case Ordering::Equal:
                if (tree.allow_duplicates) {
                    ++node->count;
                    ++tree.size;
                }
                return;
            }
        }
        *slot = new AvlNode(Ref::borrow(value));
        ++tree.size;
        path.retrace_insert();
    }

    Ref remove(PyObject *value) {
        Path path;
        AvlNode **slot = &tree.root;
        for (;;) {
            AvlNode *node = *slot;
            if (!node) throw_value_error("Value not found in the current BST");
            Ordering order = compare(value, node->value.get(), AvlNode::unordered);
            if (order == Ordering::Equal) break;
            path.push(slot);
            slot = order == Ordering::Less ? &node->left : &node->right;
        }
        AvlNode *node = *slot;
        --tree.size;
        if (node->count > 1) {
            --node->count;
            return node->value.clone();
        }
        Ref removed = std::move(node->value);
        if (node->left && node->right) {
            // The node keeps its place and takes its in-order successor's value
            // and count; the successor's node goes, and everything from its
            // parent up is rebalanced.
            path.push(slot);
            AvlNode **successor = &node->right;
            while ((*successor)->left) {
                path.push(successor);
                successor = &(*successor)->left;
            }
            AvlNode *next = *successor;
            *successor = next->right;
            node->value = std::move(next->value);
            node->count = next->count;
            delete next;
        } else {
            *slot = node->left ? node->left : node->right;
            delete node;
        }
        path.retrace();
        return removed;
    }

    Ref peek_root() const { return tree.peek_root(empty_message); }
    bool contains(PyObject *value) const { return tree.contains(value); }
    void extend(List items) { add_each(*this, items); }
    Ref min() const { return tree.extreme<&AvlNode::left>(empty_message, "Invalid tree structure"); }
    Ref max() const { return tree.extreme<&AvlNode::right>(empty_message, "Invalid Tree structure"); }
    std::uint64_t at_depth(PyObject *value) const { return tree.at_depth(value); }
    std::uint64_t height() const {
        if (tree.size == 0 || !tree.root) throw_value_error(empty_message);
        return static_cast<std::uint64_t>(tree.root->height);
    }
    std::uint64_t size() const { return tree.size; }
    bool is_empty() const { return tree.size == 0; }
    Ref inorder_list() const { return tree.listing<Order::In>(empty_message); }
    Ref preorder_list() const { return tree.listing<Order::Pre>(empty_message); }
    Ref postorder_list() const { return tree.listing<Order::Post>(empty_message); }
    Ref bfs_list() const { return tree.listing<Order::Level>(empty_message); }
    // Exclusive like the other mutators: that is the class's published borrow kind.
    AVLTree copy() { return AVLTree(tree.copy(empty_message)); }
    void clear() { tree.clear(); }
    void visit(Visitor &v) const { tree.visit(v); }
    Tree::Cursor cursor() const { return tree.cursor(); }

    Ref init_args() const { return make_tuple(to_python(tree.allow_duplicates)); }
    Ref state() const { return tree.state(); }
    // Heights follow from the shape; a shape out of balance is refused.
    static AVLTree from_state(const StateReader &state) {
        return AVLTree(Tree::from_state(state, [&](AvlNode *node) {
            update_height(node);
            if (int balance = balance_of(node); balance < -1 || balance > 1) state.invalid("the tree is not balanced");
        }));
    }

    void check() const {
        tree.check([](const AvlNode *node) {
            int expected = 1 + std::max(height_of(node->left), height_of(node->right));
            if (node->height != expected) throw_panic("AVL node height is stale");
            int balance = balance_of(node);
            if (balance < -1 || balance > 1) throw_panic("AVL node out of balance");
        });
    }
};

template <>
inline constexpr bool reads_only<&AVLTree::copy> = true;

extern const ClassDef avl_tree_class = PyClass<AVLTree>("AVLTree")
                                           .init<bool>({"allow_duplicates"})
                                           .method<&AVLTree::add>("add", {"value"})
                                           .method<&AVLTree::remove>("remove", {"value"})
                                           .method<&AVLTree::peek_root>("peek_root")
                                           .method<&AVLTree::contains>("contains", {"value"})
                                           .method<&AVLTree::extend>("extend", {"iterable"})
                                           .method<&AVLTree::min>("min")
                                           .method<&AVLTree::max>("max")
                                           .method<&AVLTree::at_depth>("at_depth", {"value"})
                                           .method<&AVLTree::height>("height")
                                           .method<&AVLTree::size>("size")
                                           .method<&AVLTree::is_empty>("is_empty")
                                           .method<&AVLTree::inorder_list>("inorder_list")
                                           .method<&AVLTree::preorder_list>("preorder_list")
                                           .method<&AVLTree::postorder_list>("postorder_list")
                                           .method<&AVLTree::bfs_list>("bfs_list")
                                           .method<&AVLTree::copy>("copy")
                                           .method<&AVLTree::clear>("clear")
                                           .repr<&AVLTree::inorder_list, &AVLTree::is_empty>()
                                           .pickle<&AVLTree::state, &AVLTree::from_state>()
                                           .contains<&AVLTree::contains>()
                                           .gc<&AVLTree::visit>()
                                           .iter<&AVLTree::cursor>();

}  // namespace morvena
