"""Puts the extension's Python package on sys.path for tests that run outside soffice."""

import os
import sys

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
PYTHONPATH = os.path.join(ROOT, "addin", "impress", "pythonpath")
if PYTHONPATH not in sys.path:
    sys.path.insert(0, PYTHONPATH)
