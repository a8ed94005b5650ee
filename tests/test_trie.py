import random
import sys

import pytest
from conftest import assert_no_leak, run_on_small_stack
from hypothesis import strategies as st
from hypothesis.stateful import RuleBasedStateMachine, invariant, rule

from morvena import Trie

NO_ELEMENTS = "No elements currently available in Trie structure"
NO_KEYS = "No keys currently available in Trie's root node"
NO_PREFIX = "Prefix not present in Trie structure"


def trie_of(*words):
    trie = Trie()
    trie.extend(list(words))
    return trie


def test_words_and_prefixes():
    trie = trie_of("abc", "ab", "b", "abd", "é", "a\U0001f600")
    assert trie.words() == ["ab", "abc", "abd", "a\U0001f600", "b", "é"]
    assert trie.prefixed("a") == ["ab", "abc", "abd", "a\U0001f600"] and trie.prefixed("ab") == ["ab", "abc", "abd"]
    assert trie.get_prefixes("abc") == ["ab"] and trie.get_prefixes("") == []
    assert trie.prefix_count("a") == 4 and trie.prefix_count("") == 6
    assert trie.base_keys() == ["a", "b", "é"]
    assert (trie.node_size(), trie.word_size()) == (7, 6)
    assert trie.contains("ab") and not trie.contains("a") and trie.starts_with("a") and not trie.starts_with("abe")


def test_counters():
    trie = trie_of("ab", "ab", "")
    assert (trie.words(), trie.word_size(), trie.node_size()) == (["ab"], 3, 2)
    assert not trie.contains("") and not trie_of("").contains("") and trie_of("").is_empty()


def test_remove_prunes_only_unshared_nodes():
    trie = trie_of("abc", "abd")
    trie.remove("abc")
    assert trie.node_size() == 3 and trie.words() == ["abd"]
    trie.insert("a")
    trie.remove("abd")
    assert trie.node_size() == 1 and trie.words() == ["a"]
    trie.remove("a")
    assert trie.is_empty() and not trie.starts_with("a") and trie.starts_with("")


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda t: t.remove("ab"), NO_ELEMENTS),
        (lambda t: t.remove(5), NO_ELEMENTS),
        (lambda t: t.words(), NO_ELEMENTS),
        (lambda t: t.prefixed("a"), NO_ELEMENTS),
        (lambda t: t.copy(), NO_ELEMENTS),
        (lambda t: t.base_keys(), NO_KEYS),
        (lambda t: t.get_prefixes("a"), NO_KEYS),
        (lambda t: t.prefix_count("a"), NO_KEYS),
        (lambda t: trie_of("ab").remove("a"), "Word not found in Trie structure"),
        (lambda t: trie_of("ab").remove(""), "Word not found in Trie structure"),
        (lambda t: trie_of("ab").prefixed("b"), NO_PREFIX),
        (lambda t: trie_of("ab").prefix_count("abc"), NO_PREFIX),
        (lambda t: trie_of("a", "ab").get_prefixes("ax"), NO_PREFIX),
    ],
)
def test_errors(call, message):
    trie = Trie()
    with pytest.raises(ValueError, match=f"^{message}$"):
        call(trie)
    assert not trie.contains("a") and trie.starts_with("")


@pytest.mark.parametrize("method", ["insert", "contains", "starts_with", "prefixed", "get_prefixes", "prefix_count"])
@pytest.mark.parametrize("bad, error", [(5, ValueError), (b"ab", ValueError), ("a\ud800", UnicodeEncodeError)])
def test_bad_words_change_nothing(method, bad, error):
    trie = trie_of("ab")
    with pytest.raises(error):
        getattr(trie, method)(bad)
    assert trie.words() == ["ab"] and (trie.node_size(), trie.word_size()) == (2, 1)


def test_extend_stops_at_the_first_bad_item():
    trie = Trie()
    with pytest.raises(ValueError, match="^Trie class only supports Strings$"):
        trie.extend(["b", "a", 3, "c"])
    assert trie.words() == ["a", "b"]
    with pytest.raises(TypeError, match="^argument 'iterable': 'tuple' object cannot be converted to 'PyList'$"):
        trie.extend(("c",))


def test_copy_shares_the_stored_strs():
    word = "".join(["sha", "red"])  # not interned: identity is meaningful
    trie = trie_of(word, "other", "other")
    copied = trie.copy()
    assert copied.words()[1] is word and (copied.node_size(), copied.word_size()) == (11, 2)
    copied.remove(word)
    assert trie.contains(word)


def test_reference_counts():
    word = "".join(["refc", "ount"])
    before = sys.getrefcount(word)
    trie = trie_of(word, word)
    assert sys.getrefcount(word) == before + 1  # the second insert replaces the first
    trie.copy().clear()
    trie.remove(word)
    assert sys.getrefcount(word) == before


def test_nodes_are_released():
    # Growing a node moves it and pruning cuts whole chains: neither may strand a block.
    words = [f"w{i % 9}x{i}" for i in range(40)]

    def cycle():
        trie = trie_of(*words)
        for word in words[::2]:
            trie.remove(word)
        trie.copy().clear()

    assert_no_leak(cycle, rounds=300)


def test_very_long_word_on_a_small_thread_stack():
    word = "ab" * 100_000
    results = {}

    def work():
        trie = trie_of(word, word[:-1])
        results["listed"] = [len(w) for w in trie.copy().words()]
        results["count"] = trie.prefix_count("ab")
        trie.remove(word[:-1])
        results["nodes"] = trie.node_size()
        del trie

    run_on_small_stack(work)
    assert results == {"listed": [len(word) - 1, len(word)], "count": 2, "nodes": len(word)}


@pytest.mark.parametrize("fan_out", [3, 5, 9, 64, 65, 300])
def test_wide_nodes_grow_shift_and_shrink(fan_out):
    # Siblings of one-, two- and four-byte code points, inserted out of order so
    # groups grow and shift under existing children; removals empty whole groups,
    # whose space the re-insertions then reuse.
    points = [0x61 + i for i in range(fan_out // 3)] + [0x3B1 + i for i in range(fan_out // 3)]
    points += [0x1F600 + i for i in range(fan_out - len(points))]
    stems = [chr(p) for p in points]
    words = [w for stem in stems for w in (stem, stem + "x", stem + "xy" + stem)]
    random.Random(fan_out).shuffle(words)
    trie = trie_of(*words)
    removed = words[::2]
    for word in removed:
        trie.remove(word)
    kept = sorted(set(words) - set(removed))
    assert trie.words() == kept and trie.node_size() == len({w[:i] for w in kept for i in range(1, len(w) + 1)})
    assert all(trie.contains(w) for w in kept) and not any(trie.contains(w) for w in removed if w not in kept)
    trie.extend(removed)
    assert trie.copy().words() == sorted(words) and trie.base_keys() == sorted(stems)
    assert [trie.prefix_count(s) for s in stems] == [3] * fan_out and not trie.starts_with(stems[0] + "y")


class TrieModel(RuleBasedStateMachine):
    words = st.text(alphabet="abé\U0001f600", max_size=4)

    def __init__(self):
        super().__init__()
        self.trie = Trie()
        self.model: set[str] = set()
        self.inserted = 0

    @rule(word=words)
    def insert(self, word):
        self.trie.insert(word)
        self.model.add(word)
        self.inserted += 1

    @rule(word=words)
    def remove(self, word):
        if word and word in self.model:
            self.trie.remove(word)
            self.model.discard(word)
            self.inserted -= 1
        elif self.trie.node_size():
            with pytest.raises(ValueError, match="^Word not found in Trie structure$"):
                self.trie.remove(word)

    @rule(prefix=words)
    def prefix_queries(self, prefix):
        stored = sorted(w for w in self.model if w)
        below = [w for w in stored if w.startswith(prefix)]
        assert self.trie.starts_with(prefix) == (bool(below) or not prefix)
        if below:
            assert self.trie.prefixed(prefix) == below and self.trie.prefix_count(prefix) == len(below)
            assert self.trie.get_prefixes(prefix) == [w for w in stored if prefix.startswith(w) and w != prefix]

    @rule()
    def copy(self):
        if self.trie.node_size():
            self.trie = self.trie.copy()
            self.inserted = len([w for w in self.model if w])
            self.model.discard("")

    @invariant()
    def agrees(self):
        stored = sorted(w for w in self.model if w)
        assert self.trie.node_size() == len({w[:i] for w in stored for i in range(1, len(w) + 1)})
        assert self.trie.word_size() == self.inserted
        if stored:
            assert self.trie.words() == stored
        for word in self.model:
            assert self.trie.contains(word) == bool(word)


TestTrieModel = TrieModel.TestCase
