#!/usr/bin/env bash
# Checks the Wireshark dissector (tools/wireshark/duxl.lua) with tshark: every capture of the corpus
# decodes without a malformed packet, a Lua error, a bad CRC or bytes outside a frame, and known frames
# (the worked example of docs/protocol.md among them) decode field by field.
# Usage: dissectorcheck.sh DISSECTOR CAPTURE_FOLDER
set -euo pipefail
dissector=$1
corpus=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Lua scripts run as root too (the package's init.lua allows it); the warning about root is not ours.
# Two passes: a request shows its reply only once the reply has been seen.
tshark_run() { tshark -n -2 -X "lua_script:$dissector" "$@" 2>"$work/stderr"; }
failures=0
fail() { echo "dissectorcheck: $*" >&2; failures=$((failures + 1)); }

frames_total=0
captures=0
for capture in "$corpus"/*.pcap; do
    captures=$((captures + 1))
    tshark_run -r "$capture" -V >"$work/tree"
    if grep -q "Lua Error" "$work/stderr" "$work/tree"; then
        fail "$(basename "$capture"): $(grep -h "Lua Error" "$work/stderr" "$work/tree" | head -n 1)"
    fi
    for problem in "Malformed Packet" "CRC verdict: bad" "Bytes outside any frame" "Expert Info (Error"; do
        count=$(grep -c "$problem" "$work/tree" || true)
        [ "$count" -eq 0 ] || fail "$(basename "$capture"): $count x \"$problem\""
    done
    frames=$(grep -c " = Kind: " "$work/tree" || true)
    [ "$frames" -gt 0 ] || fail "$(basename "$capture"): no frame decoded"
    frames_total=$((frames_total + frames))
done
[ "$captures" -gt 0 ] || fail "no capture in $corpus"

# Known frames in a capture of their own, made with text2pcap: the pseudo-header (event, direction,
# port name length, port name "ttyEX") before the bytes of each packet.
port="05 74 74 79 45 58"
cat >"$work/known.txt" <<HEX
0000 01 00 $port 00 01 c2 00
0000 00 00 $port d7 07 01 ce 00 00 00 00 00 00 00 83 a0
0000 00 01 $port d7 87 ce 64 00 00 01 00 de 0b
0000 00 00 $port d7 e0 04 4d 39
0000 00 01 $port d7 e0 04
0000 00 01 $port 4d 39
0000 00 00 $port d7 08 01 c9 00 05 01 12 34 56 78 00 00
HEX
text2pcap -q -l 147 -t "%s." "$work/known.txt" "$work/known.pcap" 2>/dev/null \
    || text2pcap -q -l 147 "$work/known.txt" "$work/known.pcap"
tshark_run -r "$work/known.pcap" -T fields -E separator='|' -E occurrence=a -e frame.number -e duxl.event -e duxl.rate \
    -e duxl.kind -e duxl.sequence -e duxl.address -e duxl.command -e duxl.command_name -e duxl.type -e duxl.bank \
    -e duxl.value -e duxl.status -e duxl.window -e duxl.crc -e duxl.crc_status -e duxl.phase -e duxl.request_in \
    -e duxl.reply_in >"$work/fields"
cat >"$work/expected" <<'FIELDS'
1|1|115200|||||||||||||||
2|0||0|7|1|206|read parameter|0|0|0|||0x83a0|good|parameters||3
3|0||4|7||206|read parameter|||256|100||0xde0b|good|parameters|2|
4|0||7|0||||||||4|0x4d39|good|write||6
5|0||||||||||||||||
6|0||7|0||||||||4|0x4d39|good|write|4|
7|0||0|8|1|201|write word|5|1|305419896|||0x0000|bad|||
FIELDS
if ! diff -u "$work/expected" "$work/fields" >"$work/diff"; then
    fail "the known frames decode otherwise:"
    cat "$work/diff" >&2
fi

echo "dissectorcheck: $frames_total frames of $captures captures decoded, known frames checked"
[ "$failures" -eq 0 ]
