#!/usr/bin/env bash
# Builds the module with AddressSanitizer and UndefinedBehaviorSanitizer into
# build/asan-site and runs the test suite against it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
rm -rf build/asan-site
.venv/bin/python -m pip install -q --no-build-isolation --no-deps --target build/asan-site \
  -Cbuild-dir=build/asan -Ccmake.build-type=Debug -Ccmake.define.QUORBEL_SANITIZE=ON -Cinstall.strip=false .
export LD_PRELOAD="$(g++ -print-file-name=libasan.so):$(g++ -print-file-name=libubsan.so)"
export ASAN_OPTIONS=detect_leaks=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export PYTHONPATH="$PWD/build/asan-site"
exec .venv/bin/python -m pytest -q -p no:cacheprovider tests "$@"
