#!/usr/bin/env bash
# Installs everything the project needs on a fresh machine and builds it:
# oneTBB from Debian's packages when CMake cannot find it, a virtual
# environment in .venv with the build and test tools, and the package itself.
# Safe to run again; later runs only rebuild what changed.
set -euo pipefail
cd "$(dirname "$0")/.."

# Runs a command quietly, showing its output only when it fails.
quiet() {
  local log
  log=$(mktemp)
  if ! "$@" >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    return 1
  fi
  rm -f "$log"
}

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

apt_install() {
  as_root apt-get install -y -q "$@" >/dev/null 2>&1 ||
    { as_root apt-get update -q >/dev/null && as_root apt-get install -y -q "$@" >/dev/null; }
}

if ! compgen -G "/usr/lib/*/cmake/TBB/TBBConfig.cmake" >/dev/null &&
   ! compgen -G "/usr/lib/cmake/TBB/TBBConfig.cmake" >/dev/null; then
  echo "setup: installing libtbb-dev" >&2
  apt_install libtbb-dev
fi
if ! command -v g++ >/dev/null; then
  echo "setup: installing g++" >&2
  apt_install g++
fi

PYTHON=${PYTHON:-python3}
if [ ! -x .venv/bin/python ]; then
  echo "setup: creating .venv" >&2
  if ! "$PYTHON" -m venv .venv 2>/dev/null; then
    apt_install python3-venv
    "$PYTHON" -m venv .venv
  fi
fi
quiet .venv/bin/python -m pip install --upgrade pip
quiet .venv/bin/python -m pip install -r requirements-dev.txt

# The build directory is kept so that a second run compiles only what changed.
echo "setup: building quorbel.algo" >&2
quiet .venv/bin/python -m pip install --no-build-isolation -Cbuild-dir=build/release .
