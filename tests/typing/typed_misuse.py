"""Each line marked `# flagged` is a type error that mypy --strict must report;
nothing else in this file may be reported."""

from morvena import Digraph, RhoodMap, Stack, Trie

Stack[int]().push("x")  # flagged
RhoodMap[str, int]().insert("a", "b")  # flagged
RhoodMap[str, int]().insert(1, 2)  # flagged
count: int = Stack[int]().pop()  # flagged
Digraph[int]().insert("node")  # flagged
Trie().insert(3)  # flagged
