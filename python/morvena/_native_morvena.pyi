from typing import Any, Iterable, final

__all__ = [
    "LinkedList",
    "Stack",
    "ArrayStack",
    "Queue",
    "RingBuffer",
    "CircularBuffer",
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
