#!/usr/bin/env bash
# The application test: the whole program under a virtual display and its own
# session bus. Usage: app_smoke.sh PATH/TO/tallowmark BUILD_DIR
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source=../../scripts/webkit-env
. "$here/../../scripts/webkit-env"
unset WAYLAND_DISPLAY
exec dbus-run-session -- xvfb-run -a -s "-screen 0 1600x1000x24 -noreset" python3 "$here/app_smoke.py" "$@"
