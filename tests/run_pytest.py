#!/usr/bin/env python3
"""Runs a pytest suite, or reports it skipped when this interpreter has no pytest.

    run_pytest.py ARGS...    (the arguments are pytest's)

A suite that cannot run says so and exits with 77, which CTest reports as
skipped: a missing test tool is not a failing library. scripts/setup installs
python3-pytest, so scripts/test and CI always run the suite.
"""

import importlib.util
import sys

SKIP = 77


def main():
    if importlib.util.find_spec("pytest") is None:
        print(f"skipped: {sys.executable} has no pytest "
              "(apt-get install python3-pytest, or run scripts/setup)")
        return SKIP
    import pytest
    code = pytest.main(sys.argv[1:])
    # pytest's "no tests collected" is a suite that ran nothing: a failure here.
    return 1 if code == pytest.ExitCode.NO_TESTS_COLLECTED else int(code)


if __name__ == "__main__":
    sys.exit(main())
