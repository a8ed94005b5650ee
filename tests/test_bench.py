"""The benchmark tour's own paths, run on tiny sizes: what is timed is not
checked (timings are not deterministic), only that every path runs and reports."""

import io
import math
import subprocess
import sys

import os

import pytest

from morvena import bench
from morvena.bench import _memory, _plot

# The tour is Python plumbing around calls the rest of the suite already makes;
# under the sanitizer its subprocess tours only repeat them at ten times the cost.
pytestmark = pytest.mark.skipif(bool(os.environ.get("MORVENA_SANITIZED")), reason="pure-Python tour plumbing")


def test_every_headline_names_a_workload_of_the_tour():
    workloads = bench.discover()
    for panel, rows in _plot.HEADLINES.items():
        for prefix, peer, _label in rows:
            assert any(w.name.startswith(prefix) and w.peer == peer for w in workloads), (panel, prefix, peer)


def test_plot_draws_every_available_headline_at_tiny_sizes(tmp_path):
    pytest.importorskip("matplotlib")
    path = tmp_path / "scaling.png"
    curves = _plot.plot(path, sizes=[40, 80], rounds=1)
    assert path.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    drawn = {label for rows in curves.values() for label, *_ in rows}
    assert drawn == {label for _panel, label, _w in _plot.headlines()}
    for rows in curves.values():
        for _label, _peer, sizes, ours, theirs in rows:
            assert sizes == [40, 80] and all(0 < t < math.inf for t in ours + theirs)


def test_tour_reports_progress_then_one_table():
    lines, steps = [], io.StringIO()
    results = bench.run(rounds=1, quick=True, match="Queue.dequeue deque", out=lines.append,
                        progress=bench.Progress(steps))
    assert [r.workload.name for r in results] == ["Queue.dequeue"]
    assert steps.getvalue() == "[1/1] Queue.dequeue against deque.popleft\n"
    assert lines[0].startswith("ours") and lines[2].startswith("Queue.dequeue")
    assert lines[-1].startswith("1 measured (")


def test_memory_table_measures_each_side_in_its_own_interpreter():
    lines = []
    results = _memory.run(match="LinkedList", size=2000, out=lines.append)
    assert [(r.case.name, r.case.peer) for r in results] == [("LinkedList", "deque")]
    assert all(math.isfinite(x) for r in results for x in (r.ours, r.theirs))
    assert lines[2].startswith("LinkedList") and lines[-1].startswith("1 measured (")


def test_command_line_plot(tmp_path):
    pytest.importorskip("matplotlib")
    path = tmp_path / "stack.png"
    done = subprocess.run([sys.executable, "-m", "morvena.bench", "--plot", str(path), "--sizes", "30,60",
                           "--rounds", "1", "-k", "Stack.pop"], capture_output=True, text=True, check=True)
    assert path.exists() and "[plot 1/1] Stack.pop against list.pop, n = 60" in done.stderr
