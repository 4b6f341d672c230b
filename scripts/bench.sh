#!/usr/bin/env bash
# Sets everything up if needed, installs the benchmark's peers, then runs the
# benchmark. Arguments go to bench/bench.py (e.g. --filter hhv, --quick).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
.venv/bin/python -m pip install -q -r bench/requirements.txt 2>&1 | grep -v "^WARNING: Location" || true
exec .venv/bin/python bench/bench.py "$@"
