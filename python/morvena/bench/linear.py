"""Stacks, the queue and the linked list against list and collections.deque."""

from collections import deque

from morvena import ArrayStack, LinkedList, Queue, Stack
from morvena.bench import Workload, put_take, take_only


def _peek(n):
    s = Stack()
    for x in range(1000):
        s.push(x)
    loop = range(n)

    def run():
        for _ in loop:
            s.peek()

    return run


def _getitem_last(n):
    s = list(range(1000))
    get = s.__getitem__
    loop = range(n)

    def run():
        for _ in loop:
            get(-1)

    return run


def _contains_miss(make, put, repeats=20):
    def setup(n):
        s = make()
        for x in range(n):
            getattr(s, put)(x)
        probe = -1

        def run():
            for _ in range(repeats):
                probe in s

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
    Workload("Stack.push+pop", "list.append+pop", 1_000_000,
             put_take(Stack, "push", "pop"), put_take(list, "append", "pop"), target=1.3),
    Workload("Stack.pop", "list.pop", 1_000_000,
             take_only(Stack, "push", "pop"), take_only(list, "append", "pop"), target=1.3),
    Workload("Stack.peek", "list.__getitem__(-1)", 1_000_000, _peek, _getitem_last, target=1.5),
    Workload("Stack.contains (miss)", "x in list", 100_000,
             _contains_miss(Stack, "push"), _contains_miss(list, "append"), target=2.0),
    Workload("ArrayStack.push+pop", "list.append+pop", 1_000_000,
             put_take(ArrayStack, "push", "pop"), put_take(list, "append", "pop"), target=1.2),
    Workload("Queue.enqueue+dequeue", "deque.append+popleft", 1_000_000,
             put_take(Queue, "enqueue", "dequeue"), put_take(deque, "append", "popleft"), target=1.3),
    Workload("Queue.dequeue", "deque.popleft", 1_000_000,
             take_only(Queue, "enqueue", "dequeue"), take_only(deque, "append", "popleft"), target=1.15),
    # Against deque's: list.append has an opcode of its own and skips the call,
    # while deque.append is an ordinary one-argument method call, like ours.
    Workload("LinkedList.append", "deque.append", 100_000,
             put_take(LinkedList, "append"), put_take(deque, "append"), target=1.3),
    # A walk of 50,000 links against an indexed load: reported, not a target.
    Workload("LinkedList.get (middle of 1e5)", "list[i] (middle of 1e5)", 200,
             _linked_list_get_middle, _list_getitem_middle, quick_size=50),
]
