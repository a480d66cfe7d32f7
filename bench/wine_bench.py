"""What the Wine measurements share: the x86_64 test build (build/win-x86_64),
its prefix and virtual screen, and its updater's loopback port."""
import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TREE_DIR = os.path.join(ROOT, "build", "win-x86_64")
BASE = "/qal_lianyun/micro/"
PORT = 28462

os.environ.update(QAL_BUILD_DIR=TREE_DIR, QAL_SOURCE_DIR=ROOT, QAL_TARGET="x86_64",
                  QAL_WINE_RUN=os.path.join(ROOT, "scripts", "wine-run.sh"))
# The build's own virtual screen, whatever display the caller has.
os.environ.pop("DISPLAY", None)
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
import qaltest  # noqa: E402,F401
