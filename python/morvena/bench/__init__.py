"""A benchmark tour: each workload times one of our operations against its nearest
stdlib or peer equivalent in one interleaved run and reports the ratio.

Every module of this package (other than the runner) contributes a ``WORKLOADS``
list; adding a class to the tour is adding one `Workload` to its family's module.
The modules whose names start with an underscore are not families: `_memory`
measures each class's memory per element, `_plot` draws how the headline rows
scale with size.
"""

from __future__ import annotations

import gc
import importlib
import pkgutil
import sys
import time
from dataclasses import dataclass
from typing import Callable, Optional

# setup(n) prepares untimed state and returns the zero-argument function to time.
Setup = Callable[[int], Callable[[], object]]


@dataclass(frozen=True)
class Workload:
    name: str  # our side, e.g. "Stack.push+pop"
    peer: str  # the other side, e.g. "list.append+pop"
    size: int  # operations per timed run
    ours: Setup
    theirs: Setup
    target: Optional[float] = None  # largest acceptable ours/theirs ratio; None reports only
    requires: Optional[str] = None  # module the peer needs; the row is skipped without it
    quick_size: Optional[int] = None  # size under --quick (default size // 10)


@dataclass
class Result:
    workload: Workload
    ours_ns: float  # best time per operation
    theirs_ns: float

    @property
    def ratio(self) -> float:
        return self.ours_ns / self.theirs_ns if self.theirs_ns else float("inf")

    @property
    def verdict(self) -> str:
        target = self.workload.target
        if target is None:
            return "report"
        return "ok" if self.ratio <= target else "SLOW"


def put_take(make: Callable[[], object], put: str, take: Optional[str] = None) -> Setup:
    """A fresh structure from make(), `s.<put>(x)` for n items, then `s.<take>()`
    n times. The loop is compiled from source as a user would write it, so both
    sides of a comparison get the interpreter's method-call fast paths (a bound
    method fetched once with getattr would not)."""
    drain = f"for _ in items:\n            s.{take}()" if take else ""
    return _compiled(make, f"""
    def run():
        s = make()
        for x in items:
            s.{put}(x)
        {drain}
""")


def take_only(make: Callable[[], object], put: str, take: str) -> Setup:
    """A structure filled with n items by `s.<put>(x)` before the clock starts,
    then `s.<take>()` n times: the removal alone, written as put_take's loops."""
    return _compiled(make, f"""
    s = make()
    for x in items:
        s.{put}(x)

    def run():
        for _ in items:
            s.{take}()
""")


def _compiled(make: Callable[[], object], body: str) -> Setup:
    source = f"def setup(n):\n    items = list(range(n))\n{body}\n    return run\n"
    namespace: dict = {"make": make}
    exec(source, namespace)
    return namespace["setup"]


def discover() -> list[Workload]:
    workloads: list[Workload] = []
    for info in sorted(pkgutil.iter_modules(__path__), key=lambda m: m.name):
        if info.name.startswith("_"):
            continue
        module = importlib.import_module(f"{__name__}.{info.name}")
        workloads.extend(getattr(module, "WORKLOADS", []))
    return workloads


def _time_once(setup: Setup, n: int) -> float:
    run = setup(n)
    gc.collect()
    gc.disable()
    try:
        start = time.perf_counter_ns()
        run()
        return time.perf_counter_ns() - start
    finally:
        gc.enable()


def time_pair(ours: Setup, theirs: Setup, n: int, rounds: int) -> tuple[float, float]:
    """The best time per operation of each side over `rounds` interleaved runs."""
    best_ours = best_theirs = float("inf")
    for i in range(rounds):
        # Alternate which side runs first so neither profits from a warm cache.
        sides = [(True, ours), (False, theirs)]
        if i % 2:
            sides.reverse()
        for is_ours, setup in sides:
            elapsed = _time_once(setup, n)
            if is_ours:
                best_ours = min(best_ours, elapsed)
            else:
                best_theirs = min(best_theirs, elapsed)
    return best_ours / n, best_theirs / n


def measure(workload: Workload, rounds: int, quick: bool) -> Result:
    n = (workload.quick_size or max(1, workload.size // 10)) if quick else workload.size
    return Result(workload, *time_pair(workload.ours, workload.theirs, n, rounds))


def available(workload) -> bool:
    """Whether the module a workload's (or a memory case's) peer needs is installed."""
    if workload.requires is None:
        return True
    try:
        importlib.import_module(workload.requires)
    except ImportError:
        return False
    return True


def selected(workloads: list, match: str) -> list:
    """The workloads (or memory cases) whose name or peer contains `match`."""
    needle = match.lower()
    return [w for w in workloads if needle in (w.name + " " + w.peer).lower()]


class Progress:
    """One status line on stderr while a long run goes on: rewritten in place on a
    terminal, one line per step otherwise (a log keeps every step)."""

    def __init__(self, stream=None):
        self.stream = stream if stream is not None else sys.stderr
        self.live = self.stream.isatty()
        self.width = 0

    def __call__(self, text: str) -> None:
        if self.live:
            self.stream.write("\r" + text.ljust(self.width))
            self.width = len(text)
        else:
            self.stream.write(text + "\n")
        self.stream.flush()

    def done(self) -> None:
        if self.live and self.width:
            self.stream.write("\r" + " " * self.width + "\r")
            self.stream.flush()
        self.width = 0


def quiet(*_text: str) -> None:
    """A progress reporter that reports nothing."""


def measure_each(items: list, measure_one, progress=None, label: str = "", detail=lambda item: "") -> tuple:
    """measure_one(item) for every item (workload or memory case) whose peer is
    installed, telling `progress` of each step. Returns the results and the
    items skipped for want of their peer."""
    progress = progress or quiet
    results, missing = [], []
    for step, item in enumerate(items, 1):
        if not available(item):
            missing.append(item)
            continue
        progress(f"[{label}{step}/{len(items)}] {item.name} against {item.peer}{detail(item)}")
        results.append(measure_one(item))
    getattr(progress, "done", quiet)()
    return results, missing


def run(rounds: int = 5, quick: bool = False, match: str = "", out=print, progress=None) -> list[Result]:
    """Measures every selected workload, reporting each step to `progress`, then
    prints the whole table through `out` once all rows are known."""
    results, missing = measure_each(selected(discover(), match), lambda w: measure(w, rounds, quick), progress)
    header = f"{'ours':<34} {'peer':<34} {'ours ns':>10} {'peer ns':>10} {'ratio':>7} {'target':>7}  verdict"
    out(header)
    out("-" * len(header))
    for result in results:
        workload = result.workload
        target = f"{workload.target:.2f}" if workload.target is not None else "-"
        out(
            f"{workload.name:<34} {workload.peer:<34} {result.ours_ns:>10.1f} {result.theirs_ns:>10.1f} "
            f"{result.ratio:>7.2f} {target:>7}  {result.verdict}"
        )
    for workload in missing:
        out(f"{workload.name:<34} {workload.peer:<34} {'skipped: ' + str(workload.requires) + ' not installed':>40}")
    out(summary([r.verdict for r in results], len(missing)))
    return results


def summary(verdicts: list[str], skipped: int) -> str:
    counts = ", ".join(f"{verdicts.count(v)} {v}" for v in sorted(set(verdicts)))
    line = f"{len(verdicts)} measured ({counts or 'none'})"
    if skipped:
        line += f", {skipped} skipped: pip install '.[bench]' brings every peer"
    return line
