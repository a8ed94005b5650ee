"""Stacks, queues, lists and ring buffers against list and collections.deque."""

import random

from morvena import Stack
from morvena.bench import Workload


# Operations are written as users write them, `s.push(x)`, so that both sides
# get the interpreter's method-call fast paths.
def _stack_push_pop(n):
    items = list(range(n))

    def run():
        s = Stack()
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


def _peek(make, fill, bind):
    def setup(n):
        s = make()
        fill(s, 1000)
        get = bind(s)
        loop = range(n)

        def run():
            for _ in loop:
                get()

        return run

    return setup


def _getitem_last(n):
    s = list(range(1000))
    get = s.__getitem__
    loop = range(n)

    def run():
        for _ in loop:
            get(-1)

    return run


def _contains_miss(make, fill, repeats=20):
    def setup(n):
        s = make()
        fill(s, n)
        probe = -1

        def run():
            for _ in range(repeats):
                probe in s

        return run

    return setup


def _fill_stack(s, n):
    for x in range(n):
        s.push(x)


WORKLOADS = [
    Workload("Stack.push+pop", "list.append+pop", 1_000_000,
             _stack_push_pop, _list_append_pop, target=1.3),
    Workload("Stack.peek", "list.__getitem__(-1)", 1_000_000,
             _peek(Stack, _fill_stack, lambda s: s.peek), _getitem_last, target=1.5),
    Workload("Stack.contains (miss)", "x in list", 100_000,
             _contains_miss(Stack, _fill_stack), _contains_miss(list, lambda s, n: s.extend(range(n))), target=2.0),
]
