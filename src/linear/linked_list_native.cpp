// LinkedList: a list of Python objects with positional access by 0-based index
// from the head. Invariant: `count` nodes are reachable from `head` through
// `next` and from `tail` through `prev`, the same nodes in opposite orders.
//
// Links run both ways and the tail is kept so that append, prepend, remove_head
// and pop of the last element cost O(1), and a positional walk starts from the
// nearer end, at most count / 2 steps. The chain is freed by a loop, never by
// recursion, so releasing millions of nodes cannot exhaust the native stack.
// Nodes come from the list's own NodePool: an append then costs no allocator
// call, which is most of what separates it from deque.append.
#include "linear/node_pool.hpp"
#include "linear/sequence.hpp"
#include "pickle.hpp"

namespace morvena {

namespace {

struct Node {
    Ref value;
    Node *prev;
    Node *next;
};

// The elements from `head` on, as a range of `const Ref &` for the shared scans.
class ChainValues {
public:
    class iterator {
    public:
        using value_type = Ref;
        using difference_type = std::ptrdiff_t;
        iterator() = default;
        explicit iterator(const Node *node) : node_(node) {}
        const Ref &operator*() const { return node_->value; }
        iterator &operator++() {
            node_ = node_->next;
            return *this;
        }
        iterator operator++(int) { return std::exchange(*this, iterator(node_->next)); }
        bool operator==(const iterator &other) const = default;

    private:
        const Node *node_ = nullptr;
    };

    explicit ChainValues(const Node *head) : head_(head) {}
    iterator begin() const { return iterator(head_); }
    iterator end() const { return iterator(); }

private:
    const Node *head_;
};

// Releases the elements of a chain whose list is already detached from it (a
// finaliser run by a release must find the list consistent); the nodes' storage
// goes back with their pool.
void release_chain(Node *node) noexcept {
    while (node) std::exchange(node, node->next)->~Node();
}

// A full walk after every mutation would make building a long list quadratic
// under the invariant-checking build; longer lists get the O(1) checks only.
constexpr std::uint64_t fully_checked_length = 4096;

}  // namespace

struct LinkedList {
    Node *head = nullptr;
    Node *tail = nullptr;
    std::uint64_t count = 0;
    NodePool<Node> pool;

    LinkedList() = default;
    LinkedList(LinkedList &&other) noexcept
        : head(std::exchange(other.head, nullptr)),
          tail(std::exchange(other.tail, nullptr)),
          count(std::exchange(other.count, 0)),
          pool(std::move(other.pool)) {}
    ~LinkedList() { release_chain(head); }

    void prepend(Ref value) { link_before(head, std::move(value)); }

    void append(Ref value) { link_before(nullptr, std::move(value)); }

    Ref remove_head() { return head ? unlink(head) : Ref::none(); }

    void insert(Ref value, std::optional<std::uint64_t> index_arg) {
        std::uint64_t index = index_arg.value_or(count);
        if (index > count) throw_value_error("Index out of bounds");
        Node *successor = nullptr;
        if (index < count && !(successor = node_at(index))) throw_value_error("Corrupted List");
        link_before(successor, std::move(value));
    }

    Ref get(std::uint64_t index) const {
        if (index >= count) throw_value_error("Index out of bounds");
        Node *node = node_at(index);
        if (!node) throw_value_error("Index not found");
        return node->value.clone();
    }

    bool contains(PyObject *value) const { return position_of(ChainValues(head), value).has_value(); }

    Ref pop(std::optional<std::uint64_t> index_arg) {
        if (count == 0) throw_value_error("List is Empty");
        std::uint64_t index = index_arg.value_or(count - 1);
        Node *node = index < count ? node_at(index) : nullptr;
        if (!node) throw_value_error("Index out of bounds");
        return unlink(node);
    }

    Ref remove(std::uint64_t index) {
        Node *node = index < count ? node_at(index) : nullptr;
        return node ? unlink(node) : Ref::none();
    }

    std::optional<std::uint64_t> search(PyObject *value) const { return position_of(ChainValues(head), value); }

    void update(Ref value, std::uint64_t index) {
        if (index >= count) throw_value_error("Index out of bounds");
        Node *node = node_at(index);
        if (!node) throw_value_error("No data found at index");
        node->value = std::move(value);
    }

    Ref to_list() const { return values_list(count, ChainValues(head)); }

    std::uint64_t size() const { return count; }

    bool is_empty() const { return count == 0; }

    // Detaches first, since releasing the elements may run finalisers; the
    // chunks go with the detached chain, so a cleared list holds no memory.
    void clear() { LinkedList detached(std::move(*this)); }

    // The elements head first.
    Ref state() const { return make_tuple(to_list()); }

    static LinkedList from_state(const StateReader &state) {
        state.fields(1);
        List items = state.list(0, "the elements");
        LinkedList out;
        for (Py_ssize_t i = 0; i < items.size(); ++i) out.append(Ref::borrow(items[i]));
        return out;
    }
    void visit(Visitor &v) const {
        for (const Node *node = head; node; node = node->next) v(node->value);
    }
    // The node to yield next; it cannot have been freed, as any unlink bumps
    // the mutation counter the iterator checks first.
    struct Cursor {
        const Node *node;
        Ref next(const LinkedList &) noexcept {
            if (!node) return {};
            return std::exchange(node, node->next)->value.clone();
        }
    };
    Cursor cursor() const { return {head}; }

    void check() const {
        if ((count == 0) != (head == nullptr) || (count == 0) != (tail == nullptr) ||
            (head && head->prev) || (tail && tail->next))
            throw_panic("LinkedList ends disagree with its size");
        if (count > fully_checked_length) return;
        std::uint64_t nodes = 0;
        const Node *last = nullptr;
        for (const Node *node = head; node; last = node, node = node->next, ++nodes)
            if (node->prev != last) throw_panic("LinkedList back link broken");
        if (nodes != count || last != tail) throw_panic("LinkedList size disagrees with its chain");
    }

private:
    // The node at `index` < count, walked from the nearer end; null if the chain
    // is shorter than `count` says.
    Node *node_at(std::uint64_t index) const {
        Node *node;
        if (index < count / 2) {
            node = head;
            for (std::uint64_t i = 0; node && i < index; ++i) node = node->next;
        } else {
            node = tail;
            for (std::uint64_t i = count - 1; node && i > index; --i) node = node->prev;
        }
        return node;
    }

    // Links a new node before `successor` (null: at the end).
    void link_before(Node *successor, Ref value) {
        Node *predecessor = successor ? successor->prev : tail;
        Node *node = new (pool.take()) Node{std::move(value), predecessor, successor};
        (predecessor ? predecessor->next : head) = node;
        (successor ? successor->prev : tail) = node;
        ++count;
    }

    // Takes `node` out of the chain and hands its element to the caller.
    Ref unlink(Node *node) {
        (node->prev ? node->prev->next : head) = node->next;
        (node->next ? node->next->prev : tail) = node->prev;
        --count;
        Ref value = std::move(node->value);
        node->~Node();
        pool.give(node);
        return value;
    }
};

extern const ClassDef linked_list_class = PyClass<LinkedList>("LinkedList")
                                              .method<&LinkedList::prepend>("prepend", {"value"})
                                              .method<&LinkedList::append>("append", {"value"})
                                              .method<&LinkedList::remove_head>("remove_head")
                                              .method<&LinkedList::insert>("insert", {"value", "index"})
                                              .method<&LinkedList::get>("get", {"index"})
                                              .method<&LinkedList::contains>("contains", {"value"})
                                              .method<&LinkedList::pop>("pop", {"index"})
                                              .method<&LinkedList::remove>("remove", {"index"})
                                              .method<&LinkedList::search>("search", {"value"})
                                              .method<&LinkedList::update>("update", {"value", "index"})
                                              .method<&LinkedList::to_list>("to_list")
                                              .method<&LinkedList::size>("size")
                                              .method<&LinkedList::is_empty>("is_empty")
                                              .method<&LinkedList::clear>("clear")
                                              .repr<&LinkedList::to_list>()
                                              .pickle<&LinkedList::state, &LinkedList::from_state>()
                                              .contains<&LinkedList::contains>()
                                              .gc<&LinkedList::visit>()
                                              .iter<&LinkedList::cursor>();

}  // namespace morvena
