import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))

from harness import Sandbox  # noqa: E402


@pytest.fixture
def sandbox(tmp_path):
    """A private router file system for one test; everything in it ends with the test."""
    sb = Sandbox(tmp_path)
    yield sb
    sb.close()
