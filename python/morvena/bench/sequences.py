"""ArrayStack, Queue and LinkedList against list and collections.deque.

Operations are written as users write them, `s.push(x)`, so that both sides get
the interpreter's method-call fast paths.
"""

from collections import deque

from morvena import ArrayStack, LinkedList, Queue
from morvena.bench import Workload


def _array_stack_push_pop(n):
    items = list(range(n))

    def run():
        s = ArrayStack()
        for x in items:
            s.push(x)
        for _ in items:
            s.pop()

    return run


def _list_append_pop(n):
    items = list(range(n))

    def run():
        s = []
        for x in items:
            s.append(x)
        for _ in items:
            s.pop()

    return run


def _queue_cycle(n):
    items = list(range(n))

    def run():
        q = Queue()
        for x in items:
            q.enqueue(x)
        for _ in items:
            q.dequeue()

    return run


def _deque_cycle(n):
    items = list(range(n))

    def run():
        q = deque()
        for x in items:
            q.append(x)
        for _ in items:
            q.popleft()

    return run


def _append_to(make):
    def setup(n):
        items = list(range(n))

        def run():
            s = make()
            for x in items:
                s.append(x)

        return run

    return setup


MIDDLE_OF = 100_000


def _linked_list_get_middle(n):
    s = LinkedList()
    for x in range(MIDDLE_OF):
        s.append(x)
    middle = MIDDLE_OF // 2
    loop = range(n)

    def run():
        for _ in loop:
            s.get(middle)

    return run


def _list_getitem_middle(n):
    s = list(range(MIDDLE_OF))
    middle = MIDDLE_OF // 2
    loop = range(n)

    def run():
        for _ in loop:
            s[middle]

    return run


WORKLOADS = [
    Workload("ArrayStack.push+pop", "list.append+pop", 1_000_000,
             _array_stack_push_pop, _list_append_pop, target=1.3),
    Workload("Queue.enqueue+dequeue", "deque.append+popleft", 1_000_000,
             _queue_cycle, _deque_cycle, target=1.3),
    Workload("LinkedList.append", "list.append", 100_000,
             _append_to(LinkedList), _append_to(list), target=1.5),
    # list.append has an opcode of its own in 3.11 and skips the call; deque's is
    # an ordinary one-argument method call, like ours.
    Workload("LinkedList.append", "deque.append", 100_000,
             _append_to(LinkedList), _append_to(deque)),
    # A walk of 50,000 links against an indexed load: reported, not a target.
    Workload("LinkedList.get (middle of 1e5)", "list[i] (middle of 1e5)", 200,
             _linked_list_get_middle, _list_getitem_middle, quick_size=50),
]
