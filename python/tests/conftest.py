"""Fixtures of the zelto package's tests: the songs that the test-side
writer wrote (by the program named in ZELTO_MAKE_SONGS), and the package
itself from this source tree."""
import json
import os
import subprocess
import sys

import pytest

PACKAGE_ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, PACKAGE_ROOT)


class Songs:
    """The folder of written songs: path("rich") is rich.gp4, tracks("rich")
    what its tracks hold, midi("rich") its plain export by the C library."""

    def __init__(self, folder):
        self.folder = folder

    def path(self, name):
        return os.path.join(self.folder, name + ".gp4")

    def tracks(self, name):
        with open(os.path.join(self.folder, name + ".tracks.json"), encoding="utf-8") as stream:
            return json.load(stream)

    def midi(self, name, suffix=".mid"):
        with open(os.path.join(self.folder, name + suffix), "rb") as stream:
            return stream.read()


@pytest.fixture(scope="session")
def songs(tmp_path_factory):
    maker = os.environ.get("ZELTO_MAKE_SONGS")
    if not maker:
        pytest.skip("ZELTO_MAKE_SONGS names no song writer (the build's CTest sets it)")
    folder = str(tmp_path_factory.mktemp("songs"))
    subprocess.run([maker, folder], check=True)
    return Songs(folder)
