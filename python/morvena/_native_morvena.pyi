from typing import Any, final

__all__ = [
    "Stack",
    "BloomFilter",
    "CuckooFilter",
]

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
class BloomFilter:
    """Approximate membership over hash(item): an added item is always found, any
    other is found with about the probability given at construction."""

    def __new__(cls, size: int, probability: float) -> BloomFilter:
        """`size` is the expected item count; raises PanicException unless
        0 < probability < 1 and size > 0, MemoryError if the bits cannot be allocated."""
    def add(self, item: Any) -> None: ...
    def contains(self, item: Any) -> bool: ...
    def clear(self) -> None: ...

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
