#!/usr/bin/env bash
# Installs into a scratch root and updates a simulated module with the installed dux-host: the installed
# programs must find the host library, their plug-in, dux-sim and the translations by their own place.
# Usage: installcheck.sh FIRMWARE (--build BUILD_DIR | --deb PACKAGE)
#   --build: cmake --install into a DESTDIR; --deb: the package's contents (dpkg -x).
set -euo pipefail
firmware=$(realpath "$1")
source=$2
from=$3
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
case "$source" in
    --build) DESTDIR="$root" cmake --install "$from" --prefix /usr >"$root/install.log" ;;
    --deb)
        dpkg -x "$from" "$root"
        # Qt SQL's drivers are plug-ins that shlibdeps cannot see: the package names those the records use.
        for driver in libqt5sql5-sqlite libqt5sql5-psql; do
            dpkg-deb -f "$from" Depends | grep -q "$driver" \
                || { echo "installcheck: the package does not depend on $driver" >&2; exit 1; }
        done
        ;;
    *) echo "usage: installcheck.sh FIRMWARE (--build BUILD_DIR | --deb PACKAGE)" >&2; exit 2 ;;
esac

missing=0
for file in bin/dux-host bin/dux-sim bin/dux-mkfirmware bin/hexinfo lib/dux/libduxhost.so lib/dux/libduxrecords.so lib/dux/plugins/libfirmwareupdate.so \
    share/dux/translations/dux_de.qm share/man/man1/dux-host.1 share/man/man1/dux-sim.1 \
    share/man/man1/dux-mkfirmware.1 share/man/man1/hexinfo.1 share/applications/dux-host.desktop lib/udev/rules.d/60-dux-modules.rules \
    share/icons/hicolor/scalable/apps/dux-host.svg share/bash-completion/completions/dux-host share/dux/wireshark/duxl.lua; do
    [ -e "$root/usr/$file" ] || { echo "installcheck: /usr/$file is not installed" >&2; missing=1; }
done
[ "$missing" -eq 0 ]
# Every man page has its examples and the exit status table.
for page in dux-host dux-sim dux-mkfirmware hexinfo; do
    for section in EXAMPLES "EXIT STATUS" "SEE ALSO"; do
        grep -q "^\.SH \"\?$section" "$root/usr/share/man/man1/$page.1" \
            || { echo "installcheck: the man page of $page has no $section section" >&2; missing=1; }
    done
done
[ "$missing" -eq 0 ]

# From a folder of its own, with nothing of the build tree on the library path; the plug-in's waits
# are shortened, as only where things are found is checked here.
cd "$root"
if ! env -u LD_LIBRARY_PATH DUX_TIME_SCALE=0.1 DUX_HOME="$root/home" QT_QPA_PLATFORM=offscreen \
    "$root/usr/bin/dux-host" --simulate --headless --file "$firmware" -- --flash-out "$root/flash" \
    >"$root/update.out" 2>"$root/update.log"; then
    tail -n 20 "$root/update.log" "$root/update.out" >&2
    echo "installcheck: the installed dux-host did not update the simulated module" >&2
    exit 1
fi
tail -n 1 "$root/update.out"
# Judged by what the module holds: the flash dux-sim wrote when the module restarted holds the file.
python3 - "$(dirname "$(realpath "$0")")/../../scripts" "$root/flash" "$firmware" <<'EOF'
import sys
sys.dont_write_bytecode = True
sys.path.insert(0, sys.argv[1])
import soak
with open(sys.argv[2]) as dump:
    flash = soak.hex_bytes(dump.read().splitlines()[3:])
difference = soak.flash_difference(flash, sys.argv[3])
if difference:
    sys.exit(f"installcheck: the simulated module's flash differs from the file: {difference}")
EOF
