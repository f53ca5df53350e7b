#!/usr/bin/env bash
# Takes the README's picture of the "Firmware update" window during an update: dux-host runs the
# update on a display of its own (Xvfb) against a simulated module paced like a 115200 baud link, and
# saves its window once the write is under way. Run it through ./dux screenshot, which builds first.
# The window speaks the language LANGUAGE names (LANGUAGE=de ./dux screenshot docs/update-window-de.png),
# English without it, whatever the machine's own locale.
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR=${DUX_BUILD_DIR:-build}
OUTPUT=${1:-docs/update-window.png}
FIRMWARE="$BUILD_DIR/firmware/dux1234-v200.hex"
SCREEN="-screen 0 1280x1024x24"
# Share of the write after which the picture is taken.
WRITE_PERCENT=45
BAUD=115200
PORT_WAIT_TRIES=100
PORT_WAIT_STEP_SECONDS=0.1

work="$BUILD_DIR/screenshot"
rm -rf "$work"
mkdir -p "$work" "$(dirname "$OUTPUT")"
# The file name field shows the end of the firmware's path: a user's folder, not the build tree's.
shown=$(mktemp -d -t dux-XXXXXX)
folder="$shown/home/user/Documents/firmware"
mkdir -p "$folder"
cp "$FIRMWARE" "$folder/"

"$BUILD_DIR/bin/dux-sim" --port-file "$work/ports" --exit-with-parent --baud "$BAUD" >"$work/dux-sim.log" &
simulator=$!
trap 'kill "$simulator" 2>/dev/null || true; rm -rf "$shown"' EXIT
for _ in $(seq "$PORT_WAIT_TRIES"); do
    [ -s "$work/ports" ] && break
    sleep "$PORT_WAIT_STEP_SECONDS"
done
[ -s "$work/ports" ] || { echo "screenshot: the simulated module did not start" >&2; exit 1; }

LANGUAGE=${LANGUAGE:-en} DUX_HOME="$work/home" xvfb-run -a -s "$SCREEN" "$BUILD_DIR/bin/dux-host" --port-file "$work/ports" \
    --file "$folder/$(basename "$FIRMWARE")" --screenshot "$OUTPUT" --screenshot-at "$WRITE_PERCENT" --exit-when-done \
    >"$work/dux-host.out" 2>"$work/dux-host.log"
grep -q "window saved to $OUTPUT" "$work/dux-host.out" || { echo "screenshot: no picture taken" >&2; exit 1; }
echo "screenshot: $OUTPUT"
