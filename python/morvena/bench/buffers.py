"""CircularBuffer and RingBuffer against collections.deque with and without maxlen."""

from collections import deque

from morvena import CircularBuffer, RingBuffer
from morvena.bench import Workload

_SLOTS = 1000


def _append_full(make, name):
    """Appends to a ring that is already full, so every append replaces the oldest item."""

    def setup(n):
        ring = make()
        for x in range(_SLOTS):
            getattr(ring, name)(x)
        append = getattr(ring, name)
        items = range(n)

        def run():
            for x in items:
                append(x)

        return run

    return setup


def _fill_drain(make, push_name, pop_name):
    """Fills the ring and empties it again, over and over."""

    def setup(n):
        ring = make()
        push, pop = getattr(ring, push_name), getattr(ring, pop_name)
        batch = range(_SLOTS)
        rounds = range(max(1, n // _SLOTS))

        def run():
            for _ in rounds:
                for x in batch:
                    push(x)
                for _ in batch:
                    pop()

        return run

    return setup


def _extend(make, n_items=_SLOTS):
    def setup(n):
        rounds = range(max(1, n // n_items))
        items = list(range(n_items))

        def run():
            for _ in rounds:
                ring = make()
                ring.extend(items)

        return run

    return setup


def _search_miss(make, fill):
    def setup(n):
        ring = make()
        fill(ring, range(_SLOTS))
        probe = -1
        rounds = range(max(1, n // _SLOTS))

        def run():
            for _ in rounds:
                probe in ring

        return run

    return setup


def _bounded_deque():
    return deque(maxlen=_SLOTS)


WORKLOADS = [
    Workload("RingBuffer.enqueue (full, 1000)", "deque(maxlen=1000).append", 1_000_000,
             _append_full(lambda: RingBuffer(_SLOTS), "enqueue"), _append_full(_bounded_deque, "append"),
             target=1.3),
    Workload("CircularBuffer.enqueue+dequeue", "deque.append+popleft", 1_000_000,
             _fill_drain(lambda: CircularBuffer(_SLOTS), "enqueue", "dequeue"),
             _fill_drain(deque, "append", "popleft"), target=1.3),
    Workload("RingBuffer.enqueue+dequeue", "deque.append+popleft", 1_000_000,
             _fill_drain(lambda: RingBuffer(_SLOTS), "enqueue", "dequeue"),
             _fill_drain(deque, "append", "popleft"), target=1.3),
    Workload("CircularBuffer.extend (list 1000)", "deque(maxlen=1000).extend", 1_000_000,
             _extend(lambda: CircularBuffer(_SLOTS)), _extend(_bounded_deque)),
    Workload("RingBuffer.extend (list 1000)", "deque(maxlen=1000).extend", 1_000_000,
             _extend(lambda: RingBuffer(_SLOTS)), _extend(_bounded_deque)),
    Workload("RingBuffer contains (miss, 1000)", "x in deque(1000)", 1_000_000,
             _search_miss(lambda: RingBuffer(_SLOTS), RingBuffer.extend),
             _search_miss(_bounded_deque, deque.extend), target=2.0),
]
