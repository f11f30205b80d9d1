"""Every Python example in the README runs as shown."""

import pathlib
import re

import pytest

README = pathlib.Path(__file__).resolve().parents[2] / "README.md"
EXAMPLES = re.findall(r"^```python\n(.*?)^```", README.read_text(), flags=re.M | re.S)


def test_the_readme_has_examples():
    assert len(EXAMPLES) >= 5


@pytest.mark.parametrize("code", EXAMPLES, ids=[f"example{i}" for i in range(len(EXAMPLES))])
def test_example_runs(code):
    exec(compile(code, str(README), "exec"), {"__name__": "readme_example"})
