"""Stacks, queues, lists and ring buffers against list and collections.deque."""

import random

from morvena import Stack
from morvena.bench import Workload


def _push_pop(make, push_name, pop_name):
    def setup(n):
        items = list(range(n))

        def run():
            s = make()
            push, pop = getattr(s, push_name), getattr(s, pop_name)
            for x in items:
                push(x)
            for _ in items:
                pop()

        return run

    return setup


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
             _push_pop(Stack, "push", "pop"), _push_pop(list, "append", "pop"), target=1.3),
    Workload("Stack.peek", "list.__getitem__(-1)", 1_000_000,
             _peek(Stack, _fill_stack, lambda s: s.peek), _getitem_last, target=1.5),
    Workload("Stack.contains (miss)", "x in list", 100_000,
             _contains_miss(Stack, _fill_stack), _contains_miss(list, lambda s, n: s.extend(range(n))), target=2.0),
]
