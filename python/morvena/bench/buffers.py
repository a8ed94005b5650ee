"""CircularBuffer and RingBuffer against collections.deque with and without maxlen."""

from collections import deque

from morvena import CircularBuffer, RingBuffer
from morvena.bench import Workload

_SLOTS = 1000


# Operations are written as users write them, `ring.enqueue(x)`, so that both
# sides get the interpreter's method-call fast paths.
def _ring_enqueue_full(n):
    ring = RingBuffer(_SLOTS)
    ring.extend(range(_SLOTS))
    items = range(n)

    def run():
        for x in items:
            ring.enqueue(x)

    return run


def _deque_append_full(n):
    ring = deque(range(_SLOTS), maxlen=_SLOTS)
    items = range(n)

    def run():
        for x in items:
            ring.append(x)

    return run


def _fill_drain(cls):
    """Fills a ring of 1000 slots and empties it again, n // 1000 times."""

    def setup(n):
        ring = cls(_SLOTS)
        batch, rounds = range(_SLOTS), range(max(1, n // _SLOTS))

        def run():
            for _ in rounds:
                for x in batch:
                    ring.enqueue(x)
                for _ in batch:
                    ring.dequeue()

        return run

    return setup


def _deque_fill_drain(n):
    ring = deque()
    batch, rounds = range(_SLOTS), range(max(1, n // _SLOTS))

    def run():
        for _ in rounds:
            for x in batch:
                ring.append(x)
            for _ in batch:
                ring.popleft()

    return run


def _extend(make):
    def setup(n):
        items, rounds = list(range(_SLOTS)), range(max(1, n // _SLOTS))

        def run():
            for _ in rounds:
                make().extend(items)

        return run

    return setup


def _contains_miss(make):
    def setup(n):
        ring = make()
        ring.extend(range(_SLOTS))
        rounds = range(max(1, n // _SLOTS))

        def run():
            for _ in rounds:
                -1 in ring

        return run

    return setup


def _bounded_deque():
    return deque(maxlen=_SLOTS)


WORKLOADS = [
    Workload("RingBuffer.enqueue (full, 1000)", "deque(maxlen=1000).append", 1_000_000,
             _ring_enqueue_full, _deque_append_full, target=1.3),
    Workload("CircularBuffer.enqueue+dequeue", "deque.append+popleft", 1_000_000,
             _fill_drain(CircularBuffer), _deque_fill_drain, target=1.3),
    Workload("RingBuffer.enqueue+dequeue", "deque.append+popleft", 1_000_000,
             _fill_drain(RingBuffer), _deque_fill_drain, target=1.3),
    Workload("CircularBuffer.extend (list 1000)", "deque(maxlen=1000).extend", 1_000_000,
             _extend(lambda: CircularBuffer(_SLOTS)), _extend(_bounded_deque)),
    Workload("RingBuffer.extend (list 1000)", "deque(maxlen=1000).extend", 1_000_000,
             _extend(lambda: RingBuffer(_SLOTS)), _extend(_bounded_deque)),
    Workload("RingBuffer in (miss, 1000)", "x in deque(1000)", 1_000_000,
             _contains_miss(lambda: RingBuffer(_SLOTS)), _contains_miss(_bounded_deque), target=2.0),
]
