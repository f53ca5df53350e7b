#!/usr/bin/env bash
# Fails when a text of the translated sources has no translation in the catalogue. lupdate brings a copy
# of the catalogue in step with the sources, which marks new and changed texts unfinished; those are listed.
# Usage: translationcheck.sh LUPDATE CATALOGUE SOURCE...
set -euo pipefail
lupdate=$1
catalogue=$2
shift 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$catalogue" "$work/catalogue.ts"
if ! "$lupdate" -no-obsolete -locations none "$@" -ts "$work/catalogue.ts" >"$work/lupdate.log" 2>&1; then
    cat "$work/lupdate.log" >&2
    exit 1
fi
untranslated=$(awk '
    /<message/ { inMessage = 1; source = "" }
    inMessage && /<source>/ { capture = 1 }
    capture { source = source $0 }
    capture && /<\/source>/ { capture = 0 }
    inMessage && (/type="unfinished"/ || /<translation><\/translation>/ || /<numerusform><\/numerusform>/) {
        print source; inMessage = 0
    }
    /<\/message>/ { inMessage = 0 }' "$work/catalogue.ts")
if [ -n "$untranslated" ]; then
    echo "translationcheck: $(basename "$catalogue") has no translation for:" >&2
    echo "$untranslated" | sed 's/^ *//' >&2
    exit 1
fi
echo "translationcheck: $(grep -c '<message' "$work/catalogue.ts") texts translated in $(basename "$catalogue")"
