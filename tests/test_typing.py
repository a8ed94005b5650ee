"""Generic aliases at runtime, and the generic stubs checked by mypy --strict."""

import runpy
import types
from pathlib import Path

import pytest

import morvena

TYPING = Path(__file__).parent / "typing"
MAPS = {"VaskMap", "RhoodMap"}


@pytest.mark.parametrize("name", morvena.__all__)
def test_class_getitem_gives_generic_alias(name):
    cls = getattr(morvena, name)
    args = (str, int) if name in MAPS else (int,)
    alias = cls[args]
    assert type(alias) is types.GenericAlias
    assert alias.__origin__ is cls and alias.__args__ == args
    assert repr(alias) == f"{name}[{', '.join(a.__name__ for a in args)}]"
    assert cls[int] == cls[int] and hash(cls[int]) == hash(cls[int])


def test_alias_constructs_the_class():
    s = morvena.Stack[int]()
    assert type(s) is morvena.Stack
    m = morvena.RhoodMap[str, int](capacity=4)
    assert type(m) is morvena.RhoodMap and m.capacity() == 4


def test_typed_example_runs():
    runpy.run_path(str(TYPING / "typed_usage.py"), run_name="typed_usage")


def test_mypy_strict_accepts_correct_use_and_flags_misuse(tmp_path):
    api = pytest.importorskip("mypy.api")
    usage, misuse = TYPING / "typed_usage.py", TYPING / "typed_misuse.py"
    stdout, stderr, _ = api.run(["--strict", "--no-error-summary", "--cache-dir", str(tmp_path),
                                 str(usage), str(misuse)])
    assert not stderr
    reported = {}
    for line in stdout.splitlines():
        path, number, kind, *_ = line.split(":", 3)
        if kind.strip() == "error":
            reported.setdefault(Path(path).name, set()).add(int(number))
    marked = {i for i, text in enumerate(misuse.read_text().splitlines(), 1) if text.endswith("# flagged")}
    assert len(marked) >= 5
    assert reported == {"typed_misuse.py": marked}, stdout
