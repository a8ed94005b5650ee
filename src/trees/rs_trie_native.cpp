// Trie: a prefix tree of Python strs, one edge per code point. A node that ends
// an inserted word holds that str object. Invariants: every node's children are
// sorted by code point (so every listing has one deterministic order), every
// leaf ends a word, `node_count` counts the nodes below the root.
//
// Each node knows its parent and its own code point, which lets removal climb
// back without a path and lets destruction walk any shape, a 200,000-character
// chain included, in a loop that needs no memory of its own.
#include "elements.hpp"
#include "pyclass.hpp"

#include <algorithm>
#include <vector>

namespace morvena {

namespace {

// One allocation per node: the header, then the child pointers, then their
// code points, sorted. A lookup reads one block per character instead of a
// node and a separate child array, which halves the cache misses of a walk
// through a trie too large for the cache.
struct TrieNode {
    TrieNode *parent;
    Ref word;  // the inserted str at a word end, else empty
    Py_UCS4 ch;  // the edge from the parent
    std::uint32_t size = 0;
    std::uint32_t capacity;

    TrieNode(TrieNode *up, Py_UCS4 edge, std::uint32_t slots) noexcept : parent(up), ch(edge), capacity(slots) {}

    TrieNode **kids() noexcept { return reinterpret_cast<TrieNode **>(this + 1); }
    TrieNode *const *kids() const noexcept { return reinterpret_cast<TrieNode *const *>(this + 1); }
    Py_UCS4 *chars() noexcept { return reinterpret_cast<Py_UCS4 *>(kids() + capacity); }
    const Py_UCS4 *chars() const noexcept { return reinterpret_cast<const Py_UCS4 *>(kids() + capacity); }

    // The first slot whose code point is not below `c`.
    std::uint32_t lower(Py_UCS4 c) const noexcept {
        const Py_UCS4 *cs = chars();
        std::uint32_t lo = 0, hi = size;
        while (lo < hi) {
            std::uint32_t mid = (lo + hi) / 2;
            if (cs[mid] < c) lo = mid + 1; else hi = mid;
        }
        return lo;
    }

    TrieNode *child(Py_UCS4 c) const noexcept {
        const Py_UCS4 *cs = chars();
        // Most nodes have one or a few children: a scan beats halving there.
        if (size <= 8) {
            for (std::uint32_t i = 0; i < size; ++i)
                if (cs[i] == c) return kids()[i];
            return nullptr;
        }
        std::uint32_t i = lower(c);
        return i < size && cs[i] == c ? kids()[i] : nullptr;
    }

    static_assert(alignof(TrieNode *) <= 8 && sizeof(Ref) == sizeof(void *), "children follow the header");
};

TrieNode *make_node(TrieNode *parent, Py_UCS4 ch, std::uint32_t capacity) {
    std::size_t bytes = sizeof(TrieNode) + capacity * (sizeof(TrieNode *) + sizeof(Py_UCS4));
    void *block = PyObject_Malloc(bytes);
    if (!block) throw std::bad_alloc();
    return new (block) TrieNode(parent, ch, capacity);
}

void destroy_node(TrieNode *node) noexcept {
    node->~TrieNode();
    PyObject_Free(node);
}

// Frees everything below `top`, and `top` itself when `including_top`: a node
// gives up its last child and the walk descends into it; a childless node is
// freed and the walk climbs back to its parent. No memory is needed, so any
// shape, however deep, is released in a loop.
void free_below(TrieNode *top, bool including_top) noexcept {
    TrieNode *node = top;
    for (;;) {
        if (node->size > 0) {
            node = node->kids()[--node->size];
        } else if (node == top) {
            if (including_top) destroy_node(node);
            return;
        } else {
            destroy_node(std::exchange(node, node->parent));
        }
    }
}

// A str argument seen as code points. Only str (and subclasses) is a word, and
// lone surrogates get the interpreter's own UnicodeEncodeError, as they would
// from any other text argument of the module.
class Text {
public:
    explicit Text(PyObject *obj) {
        if (!PyUnicode_Check(obj)) throw_value_error("Trie class only supports Strings");
        if (PyUnicode_READY(obj) < 0) throw_python_error();
        kind_ = PyUnicode_KIND(obj);
        data_ = PyUnicode_DATA(obj);
        length_ = PyUnicode_GET_LENGTH(obj);
        if (kind_ != PyUnicode_1BYTE_KIND)
            for (Py_ssize_t i = 0; i < length_; ++i)
                if (Py_UNICODE_IS_SURROGATE((*this)[i])) {
                    PyUnicode_AsUTF8AndSize(obj, nullptr);
                    throw_python_error();
                }
    }
    Py_ssize_t size() const noexcept { return length_; }
    Py_UCS4 operator[](Py_ssize_t i) const noexcept { return PyUnicode_READ(kind_, data_, i); }

private:
    int kind_;
    const void *data_;
    Py_ssize_t length_;
};

constexpr std::string_view no_elements = "No elements currently available in Trie structure";
constexpr std::string_view no_keys = "No keys currently available in Trie's root node";
constexpr std::string_view no_prefix = "Prefix not present in Trie structure";

}  // namespace

struct Trie {
    TrieNode *root;
    std::uint64_t word_count = 0;
    std::uint64_t node_count = 0;

    Trie() : root(make_node(nullptr, 0, 0)) {}
    Trie(Trie &&other) noexcept
        : root(std::exchange(other.root, nullptr)),
          word_count(std::exchange(other.word_count, 0)),
          node_count(std::exchange(other.node_count, 0)) {}
    ~Trie() {
        if (root) free_below(root, true);
    }

    void insert(PyObject *value) {
        Text text(value);
        Py_ssize_t i = 0;
        TrieNode *node = root;
        for (; i < text.size(); ++i) {
            TrieNode *next = node->child(text[i]);
            if (!next) break;
            node = next;
        }
        if (i < text.size()) node = graft(node, text, i);
        // The root never ends a word: the empty string is counted, not stored.
        if (node != root) node->word = Ref::borrow(value);
        ++word_count;
    }

    void remove(PyObject *word) {
        if (node_count == 0) throw_value_error(no_elements);
        TrieNode *node = walk(Text(word));
        if (!node || !node->word) throw_value_error("Word not found in Trie structure");
        Ref released = std::move(node->word);
        --word_count;
        // Climb while the node would be a childless non-word; the highest such
        // node is cut from its parent with everything below it.
        TrieNode *cut = nullptr;
        for (TrieNode *n = node; n != root && !n->word && n->size <= (cut ? 1u : 0u); n = n->parent) {
            cut = n;
            --node_count;
        }
        if (cut) {
            TrieNode *parent = cut->parent;
            std::uint32_t at = parent->lower(cut->ch);
            std::copy(parent->kids() + at + 1, parent->kids() + parent->size, parent->kids() + at);
            std::copy(parent->chars() + at + 1, parent->chars() + parent->size, parent->chars() + at);
            --parent->size;
            free_below(cut, true);
        }
    }

    bool contains(PyObject *value) const {
        const TrieNode *node = walk(Text(value));
        return node && node->word;
    }

    bool starts_with(PyObject *prefix) const { return walk(Text(prefix)) != nullptr; }

    Ref prefixed(PyObject *prefix) const {
        Text text(prefix);
        if (node_count == 0) throw_value_error(no_elements);
        const TrieNode *start = walk(text);
        if (!start) throw_value_error(no_prefix);
        return words_below(start);
    }

    Ref words() const {
        if (node_count == 0) throw_value_error(no_elements);
        return words_below(root);
    }

    void extend(List items) {
        // insert runs no Python code, but the length is re-read all the same,
        // so the loop is safe whatever the list does.
        for (Py_ssize_t i = 0; i < items.size(); ++i) {
            Ref item = Ref::borrow(items[i]);
            insert(item.get());
        }
    }

    Ref get_prefixes(PyObject *word) const {
        Text text(word);
        if (node_count == 0) throw_value_error(no_keys);
        std::vector<PyObject *> found;
        const TrieNode *node = root;
        for (Py_ssize_t i = 0; i < text.size(); ++i) {
            if (node->word) found.push_back(node->word.get());
            node = node->child(text[i]);
            if (!node) throw_value_error(no_prefix);
        }
        return element_list(found.size(), found, [](PyObject *w) { return w; });
    }

    std::uint64_t prefix_count(PyObject *prefix) const {
        Text text(prefix);
        if (node_count == 0) throw_value_error(no_keys);
        const TrieNode *start = walk(text);
        if (!start) throw_value_error(no_prefix);
        std::uint64_t count = 0;
        each_word_below(start, [&](PyObject *) { ++count; });
        return count;
    }

    Ref base_keys() const {
        if (node_count == 0) throw_value_error(no_keys);
        ListBuilder list(root->size);
        for (std::uint32_t i = 0; i < root->size; ++i)
            list.push(checked(PyUnicode_FromOrdinal(static_cast<int>(root->chars()[i]))));
        return std::move(list).finish();
    }

    std::uint64_t node_size() const { return node_count; }
    std::uint64_t word_size() const { return word_count; }
    bool is_empty() const { return node_count == 0; }

    // Inserting every word again would rebuild exactly these nodes (every leaf
    // ends a word), so the shape is copied directly; word_count becomes the
    // number of distinct words, as those insertions would make it.
    Trie copy() const {
        if (node_count == 0) throw_value_error(no_elements);
        Trie out(make_node(nullptr, 0, root->size));
        std::vector<std::pair<const TrieNode *, TrieNode *>> stack{{root, out.root}};
        while (!stack.empty()) {
            auto [source, target] = stack.back();
            stack.pop_back();
            for (std::uint32_t i = 0; i < source->size; ++i) {
                const TrieNode *kid = source->kids()[i];
                TrieNode *node = make_node(target, kid->ch, kid->size);
                target->kids()[i] = node;
                target->chars()[i] = kid->ch;
                ++target->size;
                ++out.node_count;
                if (kid->word) {
                    node->word = kid->word.clone();
                    ++out.word_count;
                }
                stack.emplace_back(kid, node);
            }
        }
        return out;
    }

    void clear() {
        // Detach first: the released words' finalisers may run Python code.
        TrieNode *old = std::exchange(root, make_node(nullptr, 0, 0));
        word_count = node_count = 0;
        free_below(old, true);
    }

    void check() const {
        if (root->word) throw_panic("the trie's root ends a word");
        std::uint64_t nodes = 0;
        std::vector<const TrieNode *> stack{root};
        while (!stack.empty()) {
            const TrieNode *node = stack.back();
            stack.pop_back();
            if (node != root && node->size == 0 && !node->word) throw_panic("trie leaf that ends no word");
            for (std::uint32_t i = 0; i < node->size; ++i) {
                const TrieNode *kid = node->kids()[i];
                if (i > 0 && node->chars()[i - 1] >= node->chars()[i]) throw_panic("trie children out of order");
                if (kid->parent != node || kid->ch != node->chars()[i]) throw_panic("trie child links broken");
                ++nodes;
                stack.push_back(kid);
            }
        }
        if (nodes != node_count) throw_panic("trie node count disagrees with its nodes");
    }

private:
    explicit Trie(TrieNode *top) noexcept : root(top) {}

    // The node the text leads to, or nullptr when the path breaks off.
    TrieNode *walk(const Text &text) const noexcept {
        TrieNode *node = root;
        for (Py_ssize_t i = 0; i < text.size() && node; ++i) node = node->child(text[i]);
        return node;
    }

    // Makes room for one more child. The node moves to a larger block, so its
    // parent's slot and its children's parent links follow it.
    TrieNode *with_room(TrieNode *node) {
        if (node->size < node->capacity) return node;
        TrieNode *moved = make_node(node->parent, node->ch, node->capacity ? 2 * node->capacity : 1);
        moved->word = std::move(node->word);
        moved->size = node->size;
        std::copy_n(node->kids(), node->size, moved->kids());
        std::copy_n(node->chars(), node->size, moved->chars());
        for (std::uint32_t i = 0; i < moved->size; ++i) moved->kids()[i]->parent = moved;
        if (TrieNode *parent = node->parent)
            parent->kids()[parent->lower(node->ch)] = moved;
        else
            root = moved;
        destroy_node(node);
        return moved;
    }

    // Links the missing tail text[from..] under `node`. The tail is built
    // detached and the node grown before anything is linked, so running out of
    // memory leaves the trie as it was.
    TrieNode *graft(TrieNode *node, const Text &text, Py_ssize_t from) {
        Py_ssize_t end = text.size();
        TrieNode *head = make_node(nullptr, text[from], from + 1 < end ? 1 : 0);
        TrieNode *tail = head;
        try {
            for (Py_ssize_t i = from + 1; i < end; ++i) {
                TrieNode *next = make_node(tail, text[i], i + 1 < end ? 1 : 0);
                tail->kids()[0] = next;
                tail->chars()[0] = text[i];
                tail->size = 1;
                tail = next;
            }
            node = with_room(node);
        } catch (...) {
            free_below(head, true);
            throw;
        }
        head->parent = node;
        std::uint32_t at = node->lower(head->ch);
        std::copy_backward(node->kids() + at, node->kids() + node->size, node->kids() + node->size + 1);
        std::copy_backward(node->chars() + at, node->chars() + node->size, node->chars() + node->size + 1);
        node->kids()[at] = head;
        node->chars()[at] = head->ch;
        ++node->size;
        node_count += static_cast<std::uint64_t>(end - from);
        return tail;
    }

    // Depth first in code-point order: a word comes before its extensions.
    template <class F>
    static void each_word_below(const TrieNode *start, F &&visit) {
        std::vector<const TrieNode *> stack{start};
        while (!stack.empty()) {
            const TrieNode *node = stack.back();
            stack.pop_back();
            if (node->word) visit(node->word.get());
            for (std::uint32_t i = node->size; i > 0; --i) stack.push_back(node->kids()[i - 1]);
        }
    }

    static Ref words_below(const TrieNode *start) {
        std::vector<PyObject *> found;
        each_word_below(start, [&](PyObject *word) { found.push_back(word); });
        return element_list(found.size(), found, [](PyObject *w) { return w; });
    }
};

extern const ClassDef trie_class = PyClass<Trie>("Trie")
                                       .method<&Trie::insert>("insert", {"value"})
                                       .method<&Trie::remove>("remove", {"word"})
                                       .method<&Trie::contains>("contains", {"value"})
                                       .method<&Trie::starts_with>("starts_with", {"prefix"})
                                       .method<&Trie::prefixed>("prefixed", {"prefix"})
                                       .method<&Trie::words>("words")
                                       .method<&Trie::extend>("extend", {"iterable"})
                                       .method<&Trie::get_prefixes>("get_prefixes", {"word"})
                                       .method<&Trie::prefix_count>("prefix_count", {"prefix"})
                                       .method<&Trie::base_keys>("base_keys")
                                       .method<&Trie::node_size>("node_size")
                                       .method<&Trie::word_size>("word_size")
                                       .method<&Trie::is_empty>("is_empty")
                                       .method<&Trie::copy>("copy")
                                       .method<&Trie::clear>("clear");

}  // namespace morvena
