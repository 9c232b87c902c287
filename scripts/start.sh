#!/usr/bin/env bash
# Sets everything up, builds, and starts Mirava from the build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found. Start Mirava inside a virtual X server, for example:"
  echo "  xvfb-run -s '-screen 0 1280x800x24' ./build/bin/mirava"
  exit 0
fi
exec ./build/bin/mirava
