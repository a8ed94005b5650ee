// Trie: a prefix tree of Python strs, one edge per code point. A node that ends
// an inserted word holds that str object. Invariants: every node's children are
// sorted by code point (so every listing has one deterministic order), every
// leaf ends a word, `node_count` counts the nodes below the root.
//
// Each node knows its parent, which lets removal climb back without a path and
// lets destruction walk any shape, a 200,000-character chain included, in a
// loop that needs no memory of its own.
#include "elements.hpp"
#include "pyclass.hpp"

#include <algorithm>
#include <vector>

namespace morvena {

namespace {

struct TrieNode;

struct Edge {
    Py_UCS4 ch;
    TrieNode *node;
};

struct TrieNode : PyAllocated {
    TrieNode *parent;
    Ref word;  // the inserted str at a word end, else empty
    std::vector<Edge> children;

    explicit TrieNode(TrieNode *up) noexcept : parent(up) {}

    TrieNode *child(Py_UCS4 ch) const noexcept {
        auto it = lower(ch);
        return it != children.end() && it->ch == ch ? it->node : nullptr;
    }
    std::vector<Edge>::const_iterator lower(Py_UCS4 ch) const noexcept {
        return std::lower_bound(children.begin(), children.end(), ch,
                                [](const Edge &edge, Py_UCS4 c) { return edge.ch < c; });
    }
};

// Frees everything below `top` (and `top` itself when `including_top`): a node
// gives up its last child and the walk descends into it; a childless node is
// freed and the walk climbs back to its parent.
void free_below(TrieNode *top, bool including_top) noexcept {
    TrieNode *node = top;
    for (;;) {
        if (!node->children.empty()) {
            TrieNode *next = node->children.back().node;
            node->children.pop_back();
            node = next;
        } else if (node == top) {
            if (including_top) delete node;
            return;
        } else {
            delete std::exchange(node, node->parent);
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

    Trie() : root(new TrieNode(nullptr)) {}
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
        node->word = Ref::borrow(value);
        ++word_count;
    }

    void remove(PyObject *word) {
        if (node_count == 0) throw_value_error(no_elements);
        const TrieNode *found = walk(Text(word));
        if (!found || !found->word) throw_value_error("Word not found in Trie structure");
        TrieNode *node = const_cast<TrieNode *>(found);
        Ref released = std::move(node->word);
        --word_count;
        // Climb while the node would be a childless non-word; the highest such
        // node is cut from its parent with everything below it.
        TrieNode *cut = nullptr;
        for (TrieNode *n = node; n != root && !n->word && n->children.size() <= (cut ? 1u : 0u); n = n->parent) {
            cut = n;
            --node_count;
        }
        if (cut) {
            auto &siblings = cut->parent->children;
            siblings.erase(std::find_if(siblings.begin(), siblings.end(), [&](const Edge &e) { return e.node == cut; }));
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
        ListBuilder list(root->children.size());
        for (const Edge &edge : root->children) list.push(checked(PyUnicode_FromOrdinal(static_cast<int>(edge.ch))));
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
        Trie out;
        std::vector<std::pair<const TrieNode *, TrieNode *>> stack{{root, out.root}};
        while (!stack.empty()) {
            auto [source, target] = stack.back();
            stack.pop_back();
            target->children.reserve(source->children.size());
            for (const Edge &edge : source->children) {
                TrieNode *node = new TrieNode(target);
                target->children.push_back({edge.ch, node});
                ++out.node_count;
                if (edge.node->word) {
                    node->word = edge.node->word.clone();
                    ++out.word_count;
                }
                stack.emplace_back(edge.node, node);
            }
        }
        return out;
    }

    void clear() {
        // Detach first: the released words' finalisers may run Python code.
        std::vector<Edge> old = std::exchange(root->children, {});
        word_count = node_count = 0;
        for (const Edge &edge : old) free_below(edge.node, true);
    }

    void check() const {
        std::uint64_t nodes = 0;
        std::vector<const TrieNode *> stack{root};
        if (root->word) throw_panic("the trie's root ends a word");
        while (!stack.empty()) {
            const TrieNode *node = stack.back();
            stack.pop_back();
            if (node != root && node->children.empty() && !node->word) throw_panic("trie leaf that ends no word");
            for (std::size_t i = 0; i < node->children.size(); ++i) {
                const Edge &edge = node->children[i];
                if (i > 0 && node->children[i - 1].ch >= edge.ch) throw_panic("trie children out of order");
                if (edge.node->parent != node) throw_panic("trie parent link broken");
                ++nodes;
                stack.push_back(edge.node);
            }
        }
        if (nodes != node_count) throw_panic("trie node count disagrees with its nodes");
    }

private:
    // The node the text leads to, or nullptr when the path breaks off.
    const TrieNode *walk(const Text &text) const noexcept {
        const TrieNode *node = root;
        for (Py_ssize_t i = 0; i < text.size() && node; ++i) node = node->child(text[i]);
        return node;
    }

    // Builds the missing tail text[from..] detached, then links it under
    // `node` in one step, so running out of memory leaves the trie unchanged.
    TrieNode *graft(TrieNode *node, const Text &text, Py_ssize_t from) {
        TrieNode *head = new TrieNode(node);
        TrieNode *tail = head;
        try {
            for (Py_ssize_t i = from + 1; i < text.size(); ++i) {
                TrieNode *next = new TrieNode(tail);
                try {
                    tail->children.push_back({text[i], next});
                } catch (...) {
                    delete next;
                    throw;
                }
                tail = next;
            }
            node->children.insert(node->lower(text[from]), {text[from], head});
        } catch (...) {
            free_below(head, true);
            throw;
        }
        node_count += static_cast<std::uint64_t>(text.size() - from);
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
            for (auto it = node->children.rbegin(); it != node->children.rend(); ++it) stack.push_back(it->node);
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
