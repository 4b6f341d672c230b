#!/usr/bin/env bash
# Sets everything up if needed, then runs the demo.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
exec .venv/bin/python examples/demo.py "$@"
