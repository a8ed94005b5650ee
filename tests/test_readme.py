"""The README's examples run as written."""

import pathlib
import re

import pytest

README = pathlib.Path(__file__).resolve().parent.parent / "README.md"
BLOCKS = re.findall(r"```python\n(.*?)```", README.read_text(), flags=re.S) if README.exists() else []


@pytest.mark.parametrize("block", BLOCKS)
def test_example_runs(block):
    exec(compile(block, str(README), "exec"), {})
