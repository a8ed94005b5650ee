"""Scaling: the headline operations timed at sizes from 10^3 to 10^6, for us and
for the peer, drawn as time per operation against size on log-log axes with
one panel per family. Flat lines are O(1) operations, gently rising ones
O(log n); a cliff would show a structure leaving its complexity.

The workloads are the tour's own (their setup(n) builds a structure of n
elements and times n operations on it); this module only picks the headline
rows, by name, so adding a workload elsewhere needs no change here.
"""

from __future__ import annotations

from typing import Optional

from morvena.bench import quiet, available, discover, time_pair

# Panel title -> (our workload name or its prefix, peer name, label) in drawing order.
HEADLINES = {
    "Sequences": [
        ("Stack.pop", "list.pop", "Stack.pop"),
        ("Queue.enqueue+dequeue", "deque.append+popleft", "Queue.enqueue+dequeue"),
        ("LinkedList.append", "deque.append", "LinkedList.append"),
    ],
    "Trees and heaps": [
        ("AVLTree.add", "SortedList.add", "AVLTree.add"),
        ("AVLTree.contains", "x in SortedList", "AVLTree.contains"),
        ("PriorityQueue.enqueue", "heapq.heappush (p, v)", "PriorityQueue.enqueue"),
        ("Trie.insert", "dict-of-dicts insert", "Trie.insert"),
    ],
    "Graphs (per node, 5 edges each)": [
        ("Digraph insert+add_edge", "rx add_node+add_edge", "Digraph build"),
        ("Digraph.bfs_list", "rx.bfs_layers", "Digraph.bfs_list"),
    ],
    "Hash maps": [
        ("RhoodMap.get (str hit)", "dict.get (str hit)", "RhoodMap.get"),
        ("RhoodMap.insert (fresh, str)", "d[k] = v (fresh dict)", "RhoodMap.insert"),
    ],
    "Filters": [
        ("BloomFilter.add", "rbloom.Bloom.add", "BloomFilter.add"),
        ("CuckooFilter.contains", "x in set", "CuckooFilter.contains"),
    ],
    "Flatlist": [
        ("Flatlist.insert", "SortedList.add", "Flatlist.insert"),
        ("Flatlist.contains", "x in SortedList", "Flatlist.contains"),
    ],
}

SIZES = [10**3, 10**4, 10**5, 10**6]


def headlines(match: str = ""):
    """(panel, label, workload) for every headline row that exists and can run."""
    workloads = discover()
    rows = []
    for panel, wanted in HEADLINES.items():
        for prefix, peer, label in wanted:
            found = next((w for w in workloads if w.name.startswith(prefix) and w.peer == peer), None)
            if found is None or not available(found):
                continue
            if match and match.lower() not in (found.name + " " + found.peer).lower():
                continue
            rows.append((panel, label, found))
    return rows


def rounds_at(n: int, rounds: int) -> int:
    """More rounds for small sizes, whose runs are short enough for one busy
    moment of the machine to spoil; one fewer at 10^6 and up, the steadiest and
    slowest runs."""
    if n >= 10**6:
        return max(1, rounds - 1)
    return max(rounds, min(25, 10**5 // n))


def measure(sizes: Optional[list[int]] = None, rounds: int = 3, match: str = "", progress=None):
    """{panel: [(label, peer, sizes, ours ns, peer ns)]}: time per operation at each size."""
    progress = progress or quiet
    sizes = sizes or SIZES
    rows = headlines(match)
    curves: dict = {}
    for step, (panel, label, workload) in enumerate(rows, 1):
        ours, theirs = [], []
        for n in sizes:
            progress(f"[plot {step}/{len(rows)}] {label} against {workload.peer}, n = {n:,}")
            a, b = time_pair(workload.ours, workload.theirs, n, rounds_at(n, rounds))
            ours.append(a)
            theirs.append(b)
        curves.setdefault(panel, []).append((label, workload.peer, list(sizes), ours, theirs))
    return curves


def draw(curves, path) -> None:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    panels = list(curves)
    columns = min(3, max(1, len(panels)))
    rows = (len(panels) + columns - 1) // columns
    figure, axes = plt.subplots(rows, columns, figsize=(5.2 * columns, 4.2 * rows), squeeze=False)
    colours = plt.rcParams["axes.prop_cycle"].by_key()["color"]
    for ax, panel in zip(axes.flat, panels):
        for i, (label, peer, sizes, ours, theirs) in enumerate(curves[panel]):
            colour = colours[i % len(colours)]
            ax.plot(sizes, ours, "o-", color=colour, label=label)
            ax.plot(sizes, theirs, "s--", color=colour, alpha=0.6, label=f"{peer} (peer)")
        ax.set_xscale("log")
        ax.set_yscale("log")
        ax.set_title(panel)
        ax.set_xlabel("elements")
        ax.set_ylabel("ns per operation")
        ax.grid(True, which="both", alpha=0.25)
        ax.legend(fontsize=7)
    for ax in list(axes.flat)[len(panels):]:
        ax.set_visible(False)
    figure.suptitle("morvena (solid) against its peers (dashed): time per operation, lower is better")
    figure.tight_layout()
    figure.savefig(path, dpi=90)
    plt.close(figure)


def plot(path, sizes: Optional[list[int]] = None, rounds: int = 3, match: str = "", progress=None):
    curves = measure(sizes, rounds, match, progress)
    getattr(progress, "done", quiet)()
    draw(curves, path)
    print(f"wrote {path}")
    return curves
