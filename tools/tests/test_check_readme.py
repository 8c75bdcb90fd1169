"""tools/check-readme on small documents: each fault it exists for fails it."""
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
EXAMPLE = "examples/fetch_to_path.c"


def run(*args):
    return subprocess.run([str(ROOT / "tools" / "check-readme"), *map(str, args)],
                          capture_output=True, text=True)


@pytest.mark.parametrize("text, message", [
    ("# A\n\n```sh\nmake\n", "never closed"),
    ("# A\n\n```\nout\n``` Texts of\nmore\n\n## B\n\n```\nx\n```\n", "text after ```"),
    ("- item\n\n  ```\n  code\n\nafter\n", "never closed"),
    ("```c\nint x;\n```\n", "without <!-- example"),
])
def test_faults_fail(tmp_path, text, message):
    readme = tmp_path / "README.md"
    readme.write_text(text)
    result = run(readme)
    assert result.returncode == 1
    assert message in result.stderr


def test_fix_copies_the_example(tmp_path):
    readme = tmp_path / "README.md"
    readme.write_text(f"Intro\n\n<!-- example: {EXAMPLE} -->\n```c\nold\n```\n\nEnd\n")
    assert "differs from" in run(readme).stderr
    assert run("--fix", readme).returncode == 0
    wanted = (ROOT / EXAMPLE).read_text()
    assert readme.read_text() == f"Intro\n\n<!-- example: {EXAMPLE} -->\n```c\n{wanted}```\n\nEnd\n"
    assert run(readme).returncode == 0
