#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program.
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh
tools/build.sh
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: the program needs a graphical session." >&2
  echo "Start it under a virtual X server instead:" >&2
  echo "  xvfb-run -a build/bin/pellory" >&2
  exit 1
fi
exec build/bin/pellory
