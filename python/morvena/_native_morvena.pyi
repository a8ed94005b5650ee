from typing import Any, Iterable, Iterator, Sequence, final

__all__ = [
    "LinkedList",
    "Stack",
    "ArrayStack",
    "Queue",
    "RingBuffer",
    "CircularBuffer",
    "PriorityQueue",
    "BinarySearchTree",
    "AVLTree",
    "Trie",
    "VaskMap",
    "RhoodMap",
    "BloomFilter",
    "CuckooFilter",
    "Flatlist",
    "BaseGraph",
    "Digraph",
    "WeightedGraph",
    "WeightedDigraph",
    "HyperGraph",
]

@final
class LinkedList:
    """List of Python objects addressed by 0-based index from the head.

    Both ends cost O(1); positional access walks from the nearer end.
    Index errors are ValueError; a negative index is an OverflowError.
    """

    def __new__(cls) -> LinkedList: ...
    def prepend(self, value: Any) -> None: ...
    def append(self, value: Any) -> None: ...
    def remove_head(self) -> Any:
        """Removes and returns the first element, or None when empty."""
    def insert(self, value: Any, index: int | None = ...) -> None:
        """Inserts so that `value` ends up at `index` (default: at the end)."""
    def get(self, index: int) -> Any: ...
    def contains(self, value: Any) -> bool:
        """Equality scan from the head; a comparison that raises counts as unequal."""
    def pop(self, index: int | None = ...) -> Any:
        """Removes and returns the element at `index` (default: the last one)."""
    def remove(self, index: int) -> Any:
        """Removes and returns the element at `index`, or None when out of range."""
    def search(self, value: Any) -> int | None:
        """Index of the first equal element from the head, or None."""
    def update(self, value: Any, index: int) -> None: ...
    def to_list(self) -> list[Any]:
        """The elements from head to tail."""
    def size(self) -> int: ...
    def is_empty(self) -> bool: ...
    def clear(self) -> None: ...
    def __contains__(self, key: object, /) -> bool: ...
    def __iter__(self) -> Iterator[Any]: ...

@final
class Stack:
    """Unbounded LIFO stack of Python objects; depth 0 is the top."""

    def __new__(cls) -> Stack: ...
    def push(self, value: Any) -> None: ...
    def peek(self) -> Any:
        """The top element, or None when empty."""
    def pop(self) -> Any:
        """Removes and returns the top element, or None when empty."""
    def size(self) -> int: ...
    def swap(self, index: int | None = ...) -> None:
        """Exchanges the top element with the one at depth `index` (default 1)."""
    def contains(self, value: Any) -> bool:
        """Equality scan from the top; a comparison that raises counts as unequal."""
    def copy(self) -> Stack: ...
    def is_empty(self) -> bool: ...
    def to_list(self) -> list[Any]:
        """The elements from the top down."""
    def reverse(self) -> None: ...
    def update_top(self, value: Any) -> None: ...
    def clear(self) -> None: ...
    def __copy__(self) -> Stack: ...
    def __len__(self) -> int: ...
    def __contains__(self, key: object, /) -> bool: ...
    def __iter__(self) -> Iterator[Any]: ...

@final
class ArrayStack:
    """LIFO stack in a growable array, index 0 the bottom; `size` limits it (0 or None: no limit)."""

    def __new__(cls, size: int | None = ...) -> ArrayStack: ...
    def push(self, value: Any) -> None:
        """Pushes on top; ValueError when the limit is reached."""
    def pop(self) -> Any:
        """Removes and returns the top element; ValueError when empty."""
    def peek(self) -> Any:
        """The top element; ValueError when empty."""
    def size(self) -> int: ...
    def swap(self, index: int) -> None:
        """Exchanges the element at array index `index` with the top one."""
    def contains(self, value: Any) -> bool:
        """Equality scan from the bottom; a comparison that raises counts as unequal."""
    def copy(self) -> ArrayStack:
        """Shallow copy with the same limit; ValueError when empty."""
    def is_empty(self) -> bool: ...
    def is_full(self) -> bool:
        """True when a limit is set and reached."""
    def top_index(self) -> int:
        """Array index of the top element; -1 when empty."""
    def reverse(self) -> None: ...
    def to_list(self) -> list[Any]:
        """The elements from the bottom up."""
    def extend(self, iterable: list[Any]) -> None:
        """Pushes a list's items in order; refused whole if they would exceed the limit."""
    def update_top(self, value: Any) -> None: ...
    def clear(self) -> None: ...
    def __contains__(self, key: object, /) -> bool: ...
    def __iter__(self) -> Iterator[Any]: ...

@final
class Queue:
    """Unbounded FIFO queue; position 0 is the front (the oldest element)."""

    def __new__(cls) -> Queue: ...
    def enqueue(self, value: Any) -> None: ...
    def dequeue(self) -> Any:
        """Removes and returns the front element; IndexError when empty."""
    def peek(self) -> Any:
        """The front element, or None when empty."""
    def size(self) -> int: ...
    def is_empty(self) -> bool: ...
    def contains(self, value: Any) -> bool:
        """Equality scan from the front; a comparison that raises counts as unequal."""
    def search(self, value: Any) -> int | None:
        """Position of the first equal element from the front, or None."""
    def to_list(self) -> list[Any]:
        """The elements from front to back."""
    def copy(self) -> Queue: ...
    def clear(self) -> None: ...
    def __copy__(self) -> Queue: ...
    def __len__(self) -> int: ...
    def __bool__(self) -> bool: ...
    def __contains__(self, key: object, /) -> bool: ...
    def __iter__(self) -> Iterator[Any]: ...

@final
class RingBuffer:
    """Fixed-size FIFO ring that overwrites its oldest element when full."""

    def __new__(cls, size: int) -> RingBuffer: ...
    def enqueue(self, value: Any) -> None:
        """Appends `value`; a full ring drops its oldest element, a ring of size 0 drops `value`."""
    def dequeue(self) -> Any:
        """Removes and returns the oldest element, or None when empty."""
    def peek(self) -> Any:
        """The oldest element, or None when empty."""
    def size(self) -> int: ...
    def capacity(self) -> int: ...
    def is_empty(self) -> bool: ...
    def is_full(self) -> bool: ...
    def contains(self, value: Any) -> bool:
        """Equality scan from the oldest; a comparison that raises counts as unequal."""
    def search(self, value: Any) -> int | None:
        """Position (0 = oldest) of the first equal element, or None."""
    def extend(self, iterable: Iterable[Any]) -> None:
        """Enqueues each item as it is produced; items taken before an iteration error stay."""
    def update(self, index: int, value: Any) -> None:
        """Replaces the element at position `index`; IndexError when out of range."""
    def to_list(self) -> list[Any]:
        """The elements from the oldest to the newest."""
    def subarry(self) -> list[Any]:
        """Same as to_list."""
    def copy(self) -> RingBuffer: ...
    def __copy__(self) -> RingBuffer: ...
    def clear(self) -> None: ...
    def __len__(self) -> int: ...
    def __bool__(self) -> bool: ...
    def __contains__(self, key: object, /) -> bool: ...
    def __getitem__(self, key: int, /) -> Any:
        """The element at position `key` (0 = oldest)."""
    def __iter__(self) -> Iterator[Any]: ...

@final
class CircularBuffer:
    """Fixed-size FIFO ring that refuses new elements when full."""

    def __new__(cls, size: int) -> CircularBuffer: ...
    def enqueue(self, value: Any) -> None:
        """Appends `value`; ValueError when the buffer is full."""
    def dequeue(self) -> Any:
        """Removes and returns the oldest element; ValueError when empty."""
    def peek(self) -> Any:
        """The oldest element, or None when empty."""
    def size(self) -> int: ...
    def capacity(self) -> int: ...
    def is_empty(self) -> bool: ...
    def is_full(self) -> bool: ...
    def contains(self, value: Any) -> bool:
        """Equality scan from the oldest; a comparison that raises counts as unequal."""
    def search(self, value: Any) -> int | None:
        """Position (0 = oldest) of the first equal element, or None."""
    def extend(self, iterable: Iterable[Any]) -> None:
        """Enqueues every item, or none of them when they do not all fit (ValueError)."""
    def update(self, index: int, value: Any) -> None:
        """Replaces the element at position `index`; ValueError when out of range."""
    def to_list(self) -> list[Any]:
        """The elements from the oldest to the newest."""
    def subarray(self) -> list[Any]:
        """Same as to_list."""
    def copy(self) -> CircularBuffer: ...
    def __copy__(self) -> CircularBuffer: ...
    def clear(self) -> None: ...
    def __len__(self) -> int: ...
    def __bool__(self) -> bool: ...
    def __contains__(self, key: object, /) -> bool: ...
    def __getitem__(self, key: int, /) -> Any:
        """The element at position `key` (0 = oldest)."""
    def __iter__(self) -> Iterator[Any]: ...

@final
class PriorityQueue:
    """Binary min- or max-heap of values with signed 32-bit integer priorities."""

    def __new__(cls, priority_type: str) -> PriorityQueue:
        """`priority_type` is "min" or "max", in any case."""
    def enqueue(self, value: Any, priority: int) -> None: ...
    def dequeue(self) -> Any:
        """Removes the top entry and returns its value."""
    def peek(self, return_priority: bool | None = ...) -> Any:
        """The top value, or (value, priority) when `return_priority` is true."""
    def is_empty(self) -> bool: ...
    def size(self) -> int: ...
    def is_min_heap(self) -> bool: ...
    def is_max_heap(self) -> bool: ...
    def contains(self, value: Any) -> bool:
        """Equality scan in array order; a comparison that raises counts as unequal."""
    def update_priority(self, index: int, priority: int) -> None:
        """Sets the priority of the entry at array position `index` and restores heap order."""
    def search(self, value: Any) -> int:
        """Array position of the first entry whose value equals `value`."""
    def remove(self, index: int, return_priority: bool | None = ...) -> Any:
        """Removes the entry at array position `index`; returns it as `peek` would."""
    def extend(self, iterable: list[tuple[Any, int]]) -> None:
        """Enqueues (value, priority) tuples in order; those before a failing item stay."""
    def to_list(self) -> list[tuple[Any, int]]:
        """(value, priority) tuples in array order, not priority order."""
    def copy(self) -> PriorityQueue: ...
    def __copy__(self) -> PriorityQueue: ...
    def clear(self) -> None: ...
    def heapify_up(self, index: int) -> None:
        """Sifts the entry at `index` towards the top."""
    def heapify_down(self, index: int | None = ...) -> None:
        """Sifts the entry at `index` (default 0) down; an index past the end does nothing."""
    def __len__(self) -> int: ...
    def __bool__(self) -> bool: ...
    def __contains__(self, key: object, /) -> bool: ...
    def __iter__(self) -> Iterator[tuple[Any, int]]: ...

@final
class BinarySearchTree:
    """Unbalanced search tree ordered by rich comparison; equal values share a counted node."""

    def __new__(cls, allow_duplicates: bool) -> BinarySearchTree: ...
    def add(self, value: Any) -> None:
        """Inserts `value`; an equal value raises its count, or is ignored without duplicates."""
    def remove(self, value: Any) -> Any:
        """Removes one occurrence of a value equal to `value` and returns the stored object."""
    def prune(self) -> None:
        """Removes the nodes that are leaves at the time of the call."""
    def peek_root(self) -> Any: ...
    def contains(self, value: Any) -> bool: ...
    def extend(self, iterable: list[Any]) -> None:
        """Adds the items in order; items added before a failing one stay."""
    def min(self) -> Any: ...
    def max(self) -> Any: ...
    def at_depth(self, value: Any) -> int:
        """Depth of the node equal to `value`, the root being at depth 0."""
    def height(self) -> int:
        """Nodes on the longest root-to-leaf path, 0 when empty."""
    def size(self) -> int:
        """Stored values, duplicates included."""
    def is_empty(self) -> bool: ...
    def inorder_list(self) -> list[Any]:
        """Values in ascending order; a value stands once per occurrence."""
    def preorder_list(self) -> list[Any]:
        """Node, left subtree, right subtree."""
    def postorder_list(self) -> list[Any]:
        """Left subtree, right subtree, node."""
    def bfs_list(self) -> list[Any]:
        """Level order from the root, each level left to right."""
    def copy(self) -> BinarySearchTree:
        """A tree of the same shape and counts sharing the stored objects."""
    def clear(self) -> None: ...
    def __contains__(self, key: object, /) -> bool: ...
    def __iter__(self) -> Iterator[Any]: ...

@final
class AVLTree:
    """Height-balanced search tree ordered by rich comparison; equal values share a counted node."""

    def __new__(cls, allow_duplicates: bool) -> AVLTree: ...
    def add(self, value: Any) -> None:
        """Inserts `value`; an equal value raises its count, or is ignored without duplicates."""
    def remove(self, value: Any) -> Any:
        """Removes one occurrence of a value equal to `value` and returns the stored object."""
    def peek_root(self) -> Any: ...
    def contains(self, value: Any) -> bool: ...
    def extend(self, iterable: list[Any]) -> None:
        """Adds the items in order; items added before a failing one stay."""
    def min(self) -> Any: ...
    def max(self) -> Any: ...
    def at_depth(self, value: Any) -> int:
        """Depth of the node equal to `value`, the root being at depth 0."""
    def height(self) -> int:
        """Nodes on the longest root-to-leaf path; raises when empty."""
    def size(self) -> int:
        """Stored values, duplicates included."""
    def is_empty(self) -> bool: ...
    def inorder_list(self) -> list[Any]:
        """Values in ascending order; a value stands once per occurrence."""
    def preorder_list(self) -> list[Any]:
        """Node, left subtree, right subtree."""
    def postorder_list(self) -> list[Any]:
        """Left subtree, right subtree, node."""
    def bfs_list(self) -> list[Any]:
        """Level order from the root, each level left to right."""
    def copy(self) -> AVLTree:
        """A tree of the same shape and counts sharing the stored objects."""
    def clear(self) -> None: ...
    def __contains__(self, key: object, /) -> bool: ...
    def __iter__(self) -> Iterator[Any]: ...

@final
class Trie:
    """Prefix tree of strs, one edge per code point; listings are in code-point order."""

    def __new__(cls) -> Trie: ...
    def insert(self, value: str) -> None: ...
    def remove(self, word: str) -> None:
        """Removes the word and the nodes that no longer lead to any word."""
    def contains(self, value: str) -> bool: ...
    def starts_with(self, prefix: str) -> bool: ...
    def prefixed(self, prefix: str) -> list[str]:
        """Words beginning with `prefix`, each before its extensions, in code-point order."""
    def words(self) -> list[str]:
        """Every stored word, each before its extensions, in code-point order."""
    def extend(self, iterable: list[str]) -> None:
        """Inserts the items in order; those before a failing item stay."""
    def get_prefixes(self, word: str) -> list[str]:
        """Stored words that are proper prefixes of `word`, shortest first."""
    def prefix_count(self, prefix: str) -> int:
        """Number of stored words beginning with `prefix`."""
    def base_keys(self) -> list[str]:
        """First characters of the stored words, in code-point order."""
    def node_size(self) -> int: ...
    def word_size(self) -> int:
        """Successful inserts minus successful removals."""
    def is_empty(self) -> bool:
        """True when no node is stored (the empty string adds none)."""
    def copy(self) -> Trie: ...
    def clear(self) -> None: ...
    def __contains__(self, key: object, /) -> bool: ...
    def __iter__(self) -> Iterator[str]: ...

@final
class VaskMap:
    """Bounded cuckoo map: two tables of capacity // bucket_size buckets (defaults 1024 and 4)."""

    def __new__(cls, capacity: int | None = ..., bucket_size: int | None = ...) -> VaskMap: ...
    def insert(self, key: Any, value: Any) -> bool:
        """False when an equal key is stored already; a full pair of buckets evicts through the first table."""
    def remove(self, key: Any) -> Any:
        """Removes by key hash (newest pair first) and returns the value, or None when absent."""
    def get(self, key: Any) -> Any:
        """The value of the first equal key found, or None."""
    def update(self, key: Any, new_value: Any) -> bool:
        """Replaces the value of an equal key; False (and nothing added) when absent."""
    def contains(self, key: Any) -> bool:
        """True when a pair with the same key hash sits in one of the key's two buckets; no equality is run."""
    def from_keys(self, iterable: Iterable[Any]) -> list[Any]:
        """The values found for the keys, in iteration order; missing keys and None values are skipped."""
    def keys(self) -> list[Any]:
        """First-table buckets in order, then second-table buckets; each bucket in placement order."""
    def values(self) -> list[Any]:
        """In the same order as keys()."""
    def items(self) -> list[tuple[Any, Any]]:
        """(key, value) pairs in the same order as keys()."""
    def copy(self) -> VaskMap:
        """A shallow copy with every pair in the same place."""
    def info(self) -> dict[str, Any]:
        """type, capacity, size, percentage, keys and values, in that order."""
    def capacity(self) -> int: ...
    def size(self) -> int: ...
    def percentage(self) -> float:
        """size / capacity * 100 (NaN for capacity 0)."""
    def is_empty(self) -> bool: ...
    def clear(self) -> None: ...
    def __contains__(self, key: object, /) -> bool: ...
    def __iter__(self) -> Iterator[Any]: ...

@final
class RhoodMap:
    """Fixed-capacity Robin Hood map (default capacity 1024); equal keys may be stored twice."""

    def __new__(cls, capacity: int | None = ...) -> RhoodMap: ...
    def insert(self, key: Any, value: Any) -> bool:
        """Always adds an entry, even beside an equal key; the newer entry is found first."""
    def remove(self, key: Any) -> Any:
        """Removes the first equal key on the probe path and returns its value."""
    def get(self, key: Any) -> Any:
        """The value of the first equal key found, or None."""
    def update(self, key: Any, new_value: Any) -> bool:
        """Replaces the value of an equal key; False (and nothing added) when absent."""
    def contains(self, key: Any) -> bool:
        """True when an equal key lies on the probe path before a free slot."""
    def from_keys(self, iterable: Iterable[Any]) -> list[Any]:
        """The values found for the keys, in iteration order; missing keys and None values are skipped."""
    def keys(self) -> list[Any]:
        """Slot order."""
    def values(self) -> list[Any]:
        """In the same order as keys()."""
    def items(self) -> list[tuple[Any, Any]]:
        """(key, value) pairs in the same order as keys()."""
    def copy(self) -> RhoodMap:
        """A shallow copy built by re-inserting the entries in slot order."""
    def info(self) -> dict[str, Any]:
        """type, capacity, size, percentage, keys and values, in that order."""
    def capacity(self) -> int: ...
    def size(self) -> int: ...
    def percentage(self) -> float:
        """size / capacity * 100 (NaN for capacity 0)."""
    def is_empty(self) -> bool: ...
    def clear(self) -> None: ...
    def __contains__(self, key: object, /) -> bool: ...
    def __iter__(self) -> Iterator[Any]: ...

@final
class BloomFilter:
    """Approximate membership over hash(item): an added item is always found, any
    other is found with about the probability given at construction."""

    def __new__(cls, size: int, probability: float) -> BloomFilter:
        """`size` is the expected item count; raises PanicException unless
        0 < probability < 1 and size > 0, MemoryError if the bits cannot be allocated."""
    def add(self, item: Any) -> None: ...
    def contains(self, item: Any) -> bool: ...
    def clear(self) -> None: ...
    def __contains__(self, key: object, /) -> bool: ...

@final
class CuckooFilter:
    """Approximate membership with deletion: a 16-bit fingerprint of hash(item) in
    one of two candidate buckets. An inserted item is found until it is deleted."""

    def __new__(
        cls, size: int | None = ..., bucket_size: int | None = ..., retries: int | None = ...
    ) -> CuckooFilter:
        """`size` buckets (default 100, ValueError for 0) of `bucket_size` slots
        (default 4); an insert may displace up to `retries` fingerprints (default 4)."""
    def insert(self, item: Any) -> bool:
        """Stores one more copy of the fingerprint; False (nothing changed) when no slot is found."""
    def contains(self, item: Any) -> bool: ...
    def delete(self, item: Any) -> bool:
        """Removes one copy of the fingerprint; False when there is none."""
    def len(self) -> int:
        """Number of stored fingerprints."""
    def is_empty(self) -> bool: ...
    def load_factor(self) -> float:
        """Stored fingerprints per slot (NaN with no slots)."""
    def clear(self) -> None: ...
    def __contains__(self, key: object, /) -> bool: ...

@final
class Flatlist:
    """Python objects in ascending order (by their own <, ==, >), duplicates allowed.

    A comparison that raises counts as false; when none of <, ==, > holds the two
    objects are treated as equal. Heights are random; they only decide which of
    several equal payloads `get` returns.
    """

    def __new__(cls, num_list: int | None = ..., probability: float | None = ...) -> Flatlist: ...
    def insert(self, payload: Any) -> bool:
        """Inserts before the equal payload the binary search lands on; raises
        ValueError when num_list is 0 or a height cannot be drawn from probability."""
    def remove(self, key: Any) -> Any:
        """Removes every payload equal to `key`; returns the last of them."""
    def contains(self, key: Any) -> bool: ...
    def get(self, key: Any) -> Any:
        """A stored payload equal to `key`, or None."""
    def update(self, key: Any, new_value: Any) -> bool:
        """Removes every payload equal to `key` (if any), then inserts `new_value`."""
    def extend(self, items: Sequence[Any]) -> bool:
        """Inserts the items in order; those inserted before a failure stay."""
    def index_of(self, key: Any) -> int:
        """The position of the first payload equal to `key`."""
    def to_list(self) -> list[Any]:
        """The payloads in ascending order."""
    def peek_first(self) -> Any: ...
    def peek_last(self) -> Any: ...
    def pop_first(self) -> Any: ...
    def pop_last(self) -> Any: ...
    def merge(self, other: Flatlist) -> bool:
        """Inserts every payload of `other`, in its order; `other` is unchanged."""
    def size(self) -> int: ...
    def is_empty(self) -> bool: ...
    def clear(self) -> None: ...
    def __contains__(self, key: object, /) -> bool: ...
    def __iter__(self) -> Iterator[Any]: ...

@final
class BaseGraph:
    """Undirected graph of payloads; self-loops allowed, no parallel edges."""

    def __new__(cls) -> BaseGraph: ...
    def insert(self, item: Any) -> bool:
        """Adds a node holding `item` under the next id (1, 2, ...; reused only after clear); returns True."""
    def remove(self, key: int) -> Any:
        """Removes node `key` with its edges and returns its payload; costs the node's edges."""
    def extract(self, key: int) -> Any: ...
    def keys(self) -> list[int]:
        """Node ids in insertion order (ascending)."""
    def contains(self, key: int) -> bool: ...
    def update(self, item: Any, index: int) -> None: ...
    def edges(self) -> list[tuple[int, Any]]:
        """(id, payload) per node in insertion order; edges themselves are not listed."""
    def bfs_list(self, start_id: int, return_value: bool | None = ...) -> list[Any]:
        """Breadth-first ids from `start_id` (or (id, payload) pairs when return_value is True); ties follow edge-addition order."""
    def dfs_list(self, start_id: int, return_value: bool | None = ...) -> list[Any]:
        """Depth first with a stack: a node's unvisited neighbours are pushed together in edge-addition order and the last pushed is expanded next."""
    def degree(self, id: int) -> int:
        """Number of neighbours; a self-loop counts once."""
    def is_empty(self) -> bool: ...
    def clear(self) -> None: ...
    def add_edge(self, x: int, y: int) -> None: ...
    def remove_edge(self, x: int, y: int) -> None: ...
    def is_connected(self, x: int, y: int) -> bool: ...
    def edge_count(self) -> int:
        """Number of edges, a self-loop counting as one."""
    def has_path(self, x: int, y: int) -> bool: ...
    def neighbours(self, index: int) -> list[int]:
        """Neighbour ids in the order their edges were added (an edge added again goes last)."""
    def node_coutn(self) -> int: ...
    def __contains__(self, key: object, /) -> bool: ...
    def __iter__(self) -> Iterator[int]: ...

@final
class Digraph:
    """Directed graph of payloads; edges run from `from_id` to `to_id`, no self-loops."""

    def __new__(cls) -> Digraph: ...
    def insert(self, item: Any) -> bool:
        """Adds a node holding `item` under the next id (1, 2, ...; reused only after clear); returns True."""
    def remove(self, key: int) -> Any:
        """Removes node `key` with its edges and returns its payload; costs the node's edges."""
    def extract(self, key: int) -> Any: ...
    def keys(self) -> list[int]:
        """Node ids in insertion order (ascending)."""
    def contains(self, key: int) -> bool: ...
    def update(self, item: Any, index: int) -> None: ...
    def edges(self) -> list[tuple[int, Any]]:
        """(id, payload) per node in insertion order; edges themselves are not listed."""
    def bfs_list(self, start_id: int, return_value: bool | None = ...) -> list[Any]:
        """Breadth-first ids from `start_id` (or (id, payload) pairs when return_value is True); ties follow edge-addition order."""
    def dfs_list(self, start_id: int, return_value: bool | None = ...) -> list[Any]:
        """Depth first with a stack: a node's unvisited successors are pushed together in edge-addition order and the last pushed is expanded next."""
    def degree(self, id: int) -> int:
        """Number of successors (out-degree)."""
    def is_empty(self) -> bool: ...
    def clear(self) -> None: ...
    def neighbours(self, index: int) -> list[int]:
        """Successor ids in the order their edges were added (an edge added again goes last)."""
    def has_path(self, x: int, y: int) -> bool:
        """Whether y is reachable from x along edge directions."""
    def add_edge(self, to_id: int, from_id: int) -> None: ...
    def is_connected(self, to_id: int, from_id: int) -> bool: ...
    def remove_edge(self, to_id: int, from_id: int) -> None: ...
    def edge_count(self) -> int:
        """Number of directed edges."""
    def node_count(self) -> int: ...
    def transpose(self) -> Digraph:
        """A new graph with every edge reversed, the same ids, payloads and next id."""
    def has_cycle(self) -> bool: ...
    def __contains__(self, key: object, /) -> bool: ...
    def __iter__(self) -> Iterator[int]: ...

@final
class WeightedGraph:
    """Undirected graph with float edge weights, stored unchanged."""

    def __new__(cls) -> WeightedGraph: ...
    def insert(self, item: Any) -> bool:
        """Adds a node holding `item` under the next id (1, 2, ...; reused only after clear); returns True."""
    def remove(self, key: int) -> Any:
        """Removes node `key` with its edges and returns its payload; costs the node's edges."""
    def extract(self, key: int) -> Any: ...
    def keys(self) -> list[int]:
        """Node ids in insertion order (ascending)."""
    def contains(self, key: int) -> bool: ...
    def update(self, item: Any, index: int) -> None: ...
    def edges(self) -> list[tuple[int, Any]]:
        """(id, payload) per node in insertion order; edges themselves are not listed."""
    def bfs_list(self, start_id: int, return_value: bool | None = ...) -> list[Any]:
        """Breadth-first ids from `start_id` (or (id, payload) pairs when return_value is True); ties follow edge-addition order."""
    def dfs_list(self, start_id: int, return_value: bool | None = ...) -> list[Any]:
        """Depth first with a stack: a node's unvisited neighbours are pushed together in edge-addition order and the last pushed is expanded next."""
    def degree(self, id: int) -> int:
        """Number of neighbours; a self-loop counts once."""
    def is_empty(self) -> bool: ...
    def clear(self) -> None: ...
    def remove_edge(self, x: int, y: int) -> None: ...
    def is_connected(self, x: int, y: int) -> bool: ...
    def edge_count(self) -> int:
        """Number of edges, a self-loop counting as one."""
    def has_path(self, x: int, y: int) -> bool: ...
    def add_edge(self, x: int, y: int, weight: float) -> None:
        """Adds the edge or replaces its weight."""
    def get_weight(self, x: int, y: int) -> float: ...
    def neighbours(self, index: int) -> list[tuple[int, float]]:
        """(neighbour id, weight) in the order the edges were added."""
    def total_weight(self) -> float:
        """Sum of the edge weights, each edge counted once."""
    def weighted_degree(self, id: int) -> float: ...
    def node_count(self) -> int: ...
    def density(self) -> float:
        """2 * edge_count / (n * (n - 1)); 0.0 for a single node."""
    def __contains__(self, key: object, /) -> bool: ...
    def __iter__(self) -> Iterator[int]: ...

@final
class WeightedDigraph:
    """Directed graph with float edge weights; edges run from `from_id` to `to_id`, self-loops allowed."""

    def __new__(cls) -> WeightedDigraph: ...
    def insert(self, item: Any) -> bool:
        """Adds a node holding `item` under the next id (1, 2, ...; reused only after clear); returns True."""
    def remove(self, key: int) -> Any:
        """Removes node `key` with its edges and returns its payload; costs the node's edges."""
    def extract(self, key: int) -> Any: ...
    def keys(self) -> list[int]:
        """Node ids in insertion order (ascending)."""
    def contains(self, key: int) -> bool: ...
    def update(self, item: Any, index: int) -> None: ...
    def edges(self) -> list[tuple[int, Any]]:
        """(id, payload) per node in insertion order; edges themselves are not listed."""
    def bfs_list(self, start_id: int, return_value: bool | None = ...) -> list[Any]:
        """Breadth-first ids from `start_id` (or (id, payload) pairs when return_value is True); ties follow edge-addition order."""
    def dfs_list(self, start_id: int, return_value: bool | None = ...) -> list[Any]:
        """Depth first with a stack: a node's unvisited successors are pushed together in edge-addition order and the last pushed is expanded next."""
    def degree(self, id: int) -> int:
        """Number of successors (out-degree)."""
    def is_empty(self) -> bool: ...
    def clear(self) -> None: ...
    def add_edge(self, to_id: int, from_id: int, weight: float) -> None:
        """Adds the edge from_id -> to_id or replaces its weight."""
    def is_connected(self, to_id: int, from_id: int) -> bool: ...
    def remove_edge(self, to_id: int, from_id: int) -> None: ...
    def get_weight(self, to_id: int, from_id: int) -> float: ...
    def has_path(self, to_id: int, from_id: int) -> bool:
        """Whether to_id is reachable from from_id along edge directions."""
    def neighbours(self, index: int) -> list[tuple[int, float]]:
        """(successor id, weight) in the order the edges were added."""
    def total_weight(self) -> float:
        """Sum of the edge weights, each edge counted once."""
    def weighted_degree(self, id: int) -> float: ...
    def density(self) -> float:
        """edge_count / (n * (n - 1)); 0.0 for a single node."""
    def edge_count(self) -> int:
        """Number of directed edges."""
    def node_count(self) -> int: ...
    def transpose(self) -> WeightedDigraph:
        """A new graph with every edge reversed, the same ids, payloads and next id."""
    def has_cycle(self) -> bool: ...
    def __contains__(self, key: object, /) -> bool: ...
    def __iter__(self) -> Iterator[int]: ...

@final
class HyperGraph:
    """Nodes with payloads under ids handed out from 1, and hyperedges named by
    strings joining sets of nodes.

    Every listing is in insertion order: nodes as inserted, hyperedges as
    created, an edge's members and a node's memberships in the order joined.
    """

    def __new__(cls) -> HyperGraph: ...
    def insert(self, payload: Any) -> bool:
        """Adds a node under the next id (1, 2, ...; reset only by clear)."""
    def remove(self, key: int) -> Any:
        """Removes the node from the graph and from its hyperedges; returns its payload."""
    def extract(self, key: int) -> Any:
        """The node's payload."""
    def keys(self) -> list[int]: ...
    def contains(self, key: int) -> bool: ...
    def update(self, payload: Any, id: int) -> None: ...
    def add_edge(self, id: str, vertices: Sequence[int] | None = ...) -> None:
        """Creates a hyperedge over existing nodes (a vertex listed twice joins once)."""
    def remove_edge(self, id: str) -> bool:
        """False when there is no such hyperedge."""
    def connect(self, edge_id: str, node_id: int) -> None: ...
    def disconnect(self, edge_id: str, node_id: int) -> None: ...
    def edges(self) -> list[str]: ...
    def is_connected(self, edge_id: str, node_id: int) -> bool: ...
    def edges_of(self, node_id: int) -> list[str]: ...
    def nodes_of(self, edge_id: str) -> list[int]: ...
    def intersection(self, edge_id1: str, edge_id2: str) -> list[int]:
        """Nodes in both hyperedges, in the join order of the smaller one (the first on a tie)."""
    def degree(self, node_id: int) -> int:
        """Number of hyperedges the node belongs to; ValueError if none."""
    def max_degree(self) -> int: ...
    def min_degree(self) -> int: ...
    def average_degree(self) -> float:
        """Mean degree over nodes in at least one hyperedge, in 32-bit precision; NaN if none."""
    def edge_size(self, edge_id: str) -> int: ...
    def is_empty(self) -> bool: ...
    def node_count(self) -> int: ...
    def edge_count(self) -> int: ...
    def clear(self) -> None: ...
    def __contains__(self, key: object, /) -> bool: ...
    def __iter__(self) -> Iterator[int]: ...
