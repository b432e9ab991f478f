#!/usr/bin/env python3
"""Writes random or given small Impuest.mdb databases: the command line of the jetgen package beside this script,
whose docstring (--help) tells what it does."""
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

from jetgen.cli import main  # noqa: E402

if __name__ == "__main__":
    sys.exit(main())
