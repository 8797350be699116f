import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))

from harness import Sandbox  # noqa: E402
from http_server import make_certificates  # noqa: E402


@pytest.fixture
def sandbox(tmp_path):
    """A private router file system for one test; everything in it ends with the test."""
    sb = Sandbox(tmp_path)
    yield sb
    sb.close()


@pytest.fixture(scope="session")
def certificates(tmp_path_factory):
    """A test CA and the certificates it and a stranger issued (make_certificates)."""
    return make_certificates(tmp_path_factory.mktemp("tls"))
