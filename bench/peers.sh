#!/usr/bin/env bash
# Runs bench/peers.py beside the tools it compares against. Those tools are
# installed here only, into a virtual environment under the bench build
# folder that sees the system's packages, so that whatever versions they pull
# in never change the Python that builds and tests voridez. Each is installed
# on its own: one that cannot be installed is reported, and peers.py skips it.
# Usage: bench/peers.sh PYTHON BENCH_BUILD
set -uo pipefail
PYTHON=${1:-python3}
BUILD=${2:-build-bench}
HERE=$(cd "$(dirname "$0")" && pwd)
VENV=$BUILD/peers-venv

if [ -x "$VENV/bin/python" ] || "$PYTHON" -m venv --system-site-packages "$VENV"; then
  RUN="$VENV/bin/python"
  grep -v -e '^#' -e '^ *$' "$HERE/requirements.txt" | while read -r req; do
    "$RUN" -m pip install -q --disable-pip-version-check "$req" ||
      echo "bench: could not install $req; its comparison is skipped"
  done
else
  echo "bench: no virtual environment for the peers; running without them"
  RUN=$PYTHON
fi
PYTHONPATH="$BUILD/python" "$RUN" "$HERE/peers.py"
