#!/usr/bin/env bash
# End-to-end tests of bcu.exe under wine against the Linux virtual radio
# (bcu-radiosim of the native build): each radio's pseudo-terminal is a COM
# port of the wine prefix (scripts/wine-env maps COMn to a link that the
# radio makes). One case per call; ctest runs them.
#
# Usage: tests/windows/e2e.sh CASE WIN_BUILD HOST_BUILD
#   CASE: update, info, codeplug, fleet, stop-download, stop-backup, bad-input, doctor
set -euo pipefail

case_name=$1
WIN_BUILD=$(cd "$2" && pwd)
host=$(cd "$3" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/wine-env"

bcu_exe=$WIN_BUILD/cli/bcu.exe
radiosim=$host/sim/bcu-radiosim
bcu_native=$host/cli/bcu
for tool in "$bcu_exe" "$radiosim" "$bcu_native"; do
  [[ -x $tool || -f $tool ]] || { echo "e2e: $tool is missing" >&2; exit 2; }
done
scale=0.01

tmp=$(mktemp -d "${TMPDIR:-/tmp}/bcu-wine-$case_name.XXXXXX")
sims=()
cleanup() {
  local pid
  for pid in "${sims[@]}"; do
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  for pid in "${made_backups[@]}"; do rm -f "$pid"; done
  if [[ -n ${E2E_KEEP:-} ]]; then echo "e2e: kept $tmp"; else rm -rf "$tmp"; fi
}
trap cleanup EXIT

fail() {
  echo "e2e $case_name: FAILED: $*" >&2
  exit 1
}

# The Windows path of a Unix path (wine's drive Z: is /).
winpath() {
  echo "Z:${1//\//\\}"
}

# Starts a virtual radio on COMn: start_radio COMn NAME [bcu-radiosim options]
start_radio() {
  local port=$1 name=$2
  shift 2
  rm -f "$WINE_PORT_LINKS/$port"
  "$radiosim" --link "$WINE_PORT_LINKS/$port" --dump "$tmp/$name-dump" "$@" \
    >"$tmp/$name.out" 2>"$tmp/$name.err" &
  sims+=($!)
  local _
  for _ in $(seq 1 200); do
    [[ -L $WINE_PORT_LINKS/$port && -s $tmp/$name.out ]] && return 0
    sleep 0.05
  done
  cat "$tmp/$name.err" >&2
  fail "the virtual radio on $port did not start"
}

# Ends the radios (their dumps are written then).
stop_radios() {
  local pid
  for pid in "${sims[@]}"; do
    kill -INT "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  sims=()
}

# bcu.exe in the test's own folder, its output and errors in one stream.
# The output has Windows line ends; the checks read it without them.
mkdir -p "$tmp/work"
bcu() {
  (cd "$tmp/work" && "$WINE" "$bcu_exe" "$@") 2>&1 | tr -d '\r'
  return "${PIPESTATUS[0]}"
}
# The data folder is the prefix's %LOCALAPPDATA%\Brisant Code Updater (wine
# sets LOCALAPPDATA itself); each case's radios have serial numbers of their
# own, and the case removes the backups it made.
data_dir=$("$WINE" winepath -u 'C:\users' 2>/dev/null | tr -d '\r')/$USER/AppData/Local/"Brisant Code Updater"
made_backups=()
# The backup a run names ("Backup: C:\...", "saved in C:\..."), as a Unix path.
backup_of() {
  local win
  win=$(grep -o -E '(Backup: |saved in )[A-Z]:\\.*\.bin' "$1" | head -n 1 | sed -E 's/^(Backup: |saved in )//')
  [[ -n $win ]] || return 1
  local unix
  unix=$("$WINE" winepath -u "$win" 2>/dev/null | tr -d '\r')
  made_backups+=("$unix")
  echo "$unix"
}

# A codeplug read from a radio is the image in whole 128-byte blocks: it
# holds the file `want` and at most a block's rest after it.
same_image() {
  local got=$1 want=$2
  local n
  n=$(stat -c %s "$want")
  cmp -s -n "$n" "$got" "$want" && (($(stat -c %s "$got") - n < 128))
}

sample_codeplug() {
  "$bcu_native" codeplug sample --format "$1" "$2" >/dev/null
}

check_update_result() {
  # check_update_result DUMP_DIR RADIO_CODEPLUG OUTPUT
  "$bcu_native" firmware export "$tmp/firmware" >/dev/null
  "$bcu_native" codeplug convert --to 5.10 "$2" "$tmp/expected-codeplug.bin" >/dev/null
  python3 - "$tmp/firmware" "$1" "$tmp/expected-codeplug.bin" "$3" <<'PY'
import os, sys
firmware, dump, expected, output = sys.argv[1:5]
def srecord_data(path):
    out = bytearray()
    for line in open(path, errors="replace"):
        line = line.strip(); kind = line[:2]
        if kind in ("S7", "S9"): break
        digits = {"S1": 4, "S2": 6, "S3": 8}.get(kind)
        if digits is None: continue
        count = int(line[2:4], 16); first = 4 + digits
        out += bytes.fromhex(line[first:first + 2 * (count - digits // 2 - 1)])
    return bytes(out)
names = sorted(os.listdir(firmware))
code = [n for n in names if n.startswith("Code.")][0]
want = srecord_data(os.path.join(firmware, code))
got = open(os.path.join(dump, "code.bin"), "rb").read()
rest = got[len(want):]
if got[:len(want)] != want or any(b != 0xFF for b in rest) or len(rest) >= 256:
    sys.exit("the application code the radio holds differs from the embedded firmware")
received = open(os.path.join(dump, "codeplug-received.bin"), "rb").read()
if received != open(expected, "rb").read():
    sys.exit("the codeplug the radio holds differs from the converted codeplug")
print(f"application code: {len(want)} bytes as embedded; codeplug: {len(received)} bytes as converted")
PY
}

case $case_name in
  update)
    # A whole update: boot code first (the radio's is older), the
    # application, the codeplug read, converted from 5.9 and written back.
    sample_codeplug 5.9 "$tmp/radio.bin"
    start_radio COM5 radio --time-scale "$scale" --codeplug "$tmp/radio.bin" --boot-version 4.1 \
      --serial 5555000000000001
    set +e
    bcu update --port COM5 --password gablers --yes --delay-scale "$scale" >"$tmp/update.txt" 2>&1
    status=$?
    set -e
    stop_radios
    grep -v '^[0-9]*% (' "$tmp/update.txt" | tail -n 25
    [[ $status -eq 0 ]] || fail "bcu.exe update ended with exit code $status"
    grep -qx 'Done\.' "$tmp/update.txt" || fail "the update did not end \"Done.\""
    check_update_result "$tmp/radio-dump" "$tmp/radio.bin" "$tmp/update.txt" || fail "radio contents"
    # The backup and the history are under %LOCALAPPDATA%\Brisant Code Updater.
    backup=$(backup_of "$tmp/update.txt") || fail "no backup named"
    [[ $backup == "$data_dir/backups/5555000000000001/"*.bin ]] || fail "the backup is at $backup"
    same_image "$backup" "$tmp/radio.bin" || fail "the backup differs from the radio's codeplug"
    grep -q 5555000000000001 "$data_dir/history.jsonl" || fail "the run is not in the history"
    ;;

  info)
    # The COM10 name form (\\.\COM10) and the version information.
    start_radio COM10 radio --time-scale "$scale" --start-mode application \
      --serial 0123456789ABCDEF
    (cd "$tmp/work" && "$WINE" "$bcu_exe" info --port COM10 --json) >"$tmp/info.json" ||
      fail "bcu.exe info"
    cat "$tmp/info.json"
    python3 - "$tmp/info.json" <<'PY' || fail "info"
import json, sys
j = json.load(open(sys.argv[1]))
assert j["port"] == "COM10", j
assert j["serialNumber"] == "01-23-45-67-89-AB-CD-EF", j
assert j["fileFormatVersion"], j
PY
    ;;

  codeplug)
    # Read, write and read back, with file names no code page holds.
    sample_codeplug 5.10 "$tmp/radio.bin"
    start_radio COM6 radio --time-scale "$scale" --start-mode application --codeplug "$tmp/radio.bin" \
      --format-before 5.10
    name="Kodeplug-Größe-Кодплаг-✓"
    bcu codeplug read --port COM6 "$(winpath "$tmp/$name-read.bin")" >"$tmp/read.txt" 2>&1 ||
      { cat "$tmp/read.txt"; fail "codeplug read"; }
    same_image "$tmp/$name-read.bin" "$tmp/radio.bin" || fail "the codeplug read differs from the radio's"
    "$bcu_native" codeplug sample --format 5.10 --seed 7 "$tmp/$name-new.bin" >/dev/null
    bcu codeplug write --port COM6 "$(winpath "$tmp/$name-new.bin")" >"$tmp/write.txt" 2>&1 ||
      { cat "$tmp/write.txt"; fail "codeplug write"; }
    cat "$tmp/write.txt"
    bcu codeplug read --port COM6 "$(winpath "$tmp/back.bin")" >/dev/null 2>&1 || fail "read back"
    same_image "$tmp/back.bin" "$tmp/$name-new.bin" || fail "the codeplug read back differs from the one written"
    stop_radios
    cmp -s "$tmp/radio-dump/codeplug.bin" "$tmp/$name-new.bin" || fail "the radio holds another codeplug"
    echo "read, written and read back: identical"
    ;;

  fleet)
    # Two radios at once on COM7 and COM8.
    sample_codeplug 5.9 "$tmp/a.bin"
    "$bcu_native" codeplug sample --format 5.9 --seed 5 "$tmp/b.bin" >/dev/null
    start_radio COM7 a --time-scale "$scale" --codeplug "$tmp/a.bin" --serial 7777000000000001
    start_radio COM8 b --time-scale "$scale" --codeplug "$tmp/b.bin" --serial 8888000000000001
    set +e
    bcu update --port COM7 --port COM8 --password gablers --yes --delay-scale "$scale" \
      >"$tmp/fleet.txt" 2>&1
    status=$?
    set -e
    stop_radios
    tail -n 12 "$tmp/fleet.txt"
    [[ $status -eq 0 ]] || fail "the fleet update ended with exit code $status"
    check_update_result "$tmp/a-dump" "$tmp/a.bin" "$tmp/fleet.txt" || fail "radio on COM7"
    check_update_result "$tmp/b-dump" "$tmp/b.bin" "$tmp/fleet.txt" || fail "radio on COM8"
    made_backups+=("$data_dir"/backups/7777000000000001/*.bin "$data_dir"/backups/8888000000000001/*.bin)
    ;;

  stop-download | stop-backup)
    # Ctrl-C (SIGINT, which wine hands to the console's control handler)
    # during the code download, or during the wait for the conversion, when
    # the codeplug read from the radio is already kept: the run stops after
    # its current step.
    sample_codeplug 5.9 "$tmp/radio.bin"
    serial=1111000000000001
    [[ $case_name == stop-backup ]] && serial=1111000000000002
    start_radio COM11 radio --time-scale 0.02 --codeplug "$tmp/radio.bin" --serial $serial
    wait_for="Downloading Application code ..."
    [[ $case_name == stop-backup ]] && wait_for="Resetting radio and converting codeplug..."
    (cd "$tmp/work" && exec "$WINE" "$bcu_exe" update \
      --port COM11 --password gablers --yes --delay-scale 0.02 >"$tmp/out.txt" 2>"$tmp/err.txt") &
    pid=$!
    for _ in $(seq 1 6000); do  # at most 5 minutes (a loaded machine)
      grep -qF "$wait_for" "$tmp/out.txt" 2>/dev/null && break
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.05
    done
    grep -qF "$wait_for" "$tmp/out.txt" || { cat "$tmp/out.txt" "$tmp/err.txt"; fail "never reached \"$wait_for\""; }
    kill -INT "$pid"
    set +e
    wait "$pid"
    status=$?
    set -e
    stop_radios
    sed -i 's/\r$//' "$tmp/out.txt" "$tmp/err.txt"
    tail -n 5 "$tmp/out.txt"
    cat "$tmp/err.txt"
    [[ $status -eq 10 ]] || fail "exit code $status, not 10 (stopped)"
    # The first Ctrl-C names the step it lets finish (the application code
    # stops at its next block, the radio then waits in bootload mode).
    grep -F "Ctrl-C: stopping" "$tmp/err.txt" | grep -qF "($wait_for)" ||
      fail "the stop does not name the step"
    if [[ $case_name == stop-download ]]; then
      grep -qF "bootload mode without application code" "$tmp/out.txt" ||
        fail "the stop does not say what the radio is left with"
    fi
    [[ -z $(ls -A "$tmp/work") ]] || fail "work files left behind: $(ls -A "$tmp/work")"
    if [[ $case_name == stop-backup ]]; then
      backup=$(backup_of "$tmp/err.txt") || fail "the backup is not named"
      [[ $backup == "$data_dir/backups/$serial/"*.bin ]] || fail "the backup is at $backup"
      same_image "$backup" "$tmp/radio.bin" || fail "the backup differs from the radio's codeplug"
    fi
    ;;

  bad-input)
    # A port that does not exist, a port another program holds, a file
    # that is not there (with a name no code page holds).
    set +e
    bcu info --port COM9 >"$tmp/missing.txt" 2>&1
    status=$?
    set -e
    cat "$tmp/missing.txt"
    [[ $status -eq 4 ]] || fail "a missing port: exit code $status, not 4"
    # The first program holds COM12 through the radio's flash erase (80 s
    # at full time); the second finds the port taken.
    start_radio COM12 radio --time-scale 1
    (cd "$tmp/work" && exec "$WINE" "$bcu_exe" update \
      --port COM12 --password gablers --yes >"$tmp/holder.txt" 2>&1) &
    holder=$!
    for _ in $(seq 1 600); do
      grep -qF "Erasing flash" "$tmp/holder.txt" 2>/dev/null && break
      sleep 0.05
    done
    grep -qF "Erasing flash" "$tmp/holder.txt" || { cat "$tmp/holder.txt"; fail "the holder never erased"; }
    set +e
    bcu info --port COM12 >"$tmp/held.txt" 2>&1
    status=$?
    set -e
    kill -INT "$holder" 2>/dev/null || true
    sleep 1
    kill -INT "$holder" 2>/dev/null || true
    wait "$holder" 2>/dev/null || true
    cat "$tmp/held.txt"
    [[ $status -eq 4 ]] || fail "a held port: exit code $status, not 4"
    grep -qi "in use" "$tmp/held.txt" || fail "a held port is not called in use"
    set +e
    bcu codeplug info "$(winpath "$tmp/nicht-da-ä.bin")" >"$tmp/nofile.txt" 2>&1
    status=$?
    set -e
    cat "$tmp/nofile.txt"
    [[ $status -ne 0 ]] || fail "a missing file was taken"
    grep -qF "nicht-da-ä.bin" "$tmp/nofile.txt" || fail "the missing file is not named as given"
    ;;

  doctor)
    # bcu doctor on a COM port that is not there, on one another program
    # holds, and on a pseudo-terminal's port, whose modem lines cannot be
    # driven: reported, and a problem only where the radio's bus needs RTS
    # (a mobile radio without its interface box).
    set +e
    bcu doctor --port COM9 >"$tmp/missing.txt" 2>&1
    status=$?
    set -e
    cat "$tmp/missing.txt"
    [[ $status -eq 4 ]] || fail "doctor, a missing port: exit code $status, not 4"
    grep -E '^PROBLEM +device +COM9 does not exist' "$tmp/missing.txt" >/dev/null ||
      fail "doctor does not say COM9 does not exist"
    start_radio COM12 radio --time-scale "$scale" --start-mode application
    set +e
    bcu doctor --port COM12 >"$tmp/pty.txt" 2>&1
    status=$?
    set -e
    stop_radios
    start_radio COM12 radio --time-scale "$scale" --start-mode application --no-box
    set +e
    bcu doctor --port COM12 >"$tmp/mobile.txt" 2>&1
    mobile_status=$?
    set -e
    cat "$tmp/pty.txt" "$tmp/mobile.txt"
    grep -E '^OK +holder +no other program holds the port' "$tmp/pty.txt" >/dev/null ||
      fail "doctor does not find the port free"
    grep -E '^OK +modemlines +RTS and DTR cannot be driven on this port; not needed here' \
      "$tmp/pty.txt" >/dev/null || fail "a portable radio: the modem lines are not reported as not needed"
    [[ $status -eq 0 ]] || fail "doctor on a free pseudo-terminal port: exit code $status, not 0"
    grep -E '^PROBLEM +modemlines +RTS and DTR cannot be driven on this port: a mobile radio' \
      "$tmp/mobile.txt" >/dev/null || fail "a mobile radio without its box: the modem lines are not a problem"
    [[ $mobile_status -eq 1 ]] || fail "doctor for a mobile radio: exit code $mobile_status, not 1"
    stop_radios
    # Held by another program: an update erasing the radio's flash (80 s at
    # full time).
    start_radio COM12 radio --time-scale 1
    (cd "$tmp/work" && exec "$WINE" "$bcu_exe" update \
      --port COM12 --password gablers --yes >"$tmp/holder.txt" 2>&1) &
    holder=$!
    for _ in $(seq 1 6000); do
      grep -qF "Erasing flash" "$tmp/holder.txt" 2>/dev/null && break
      sleep 0.05
    done
    grep -qF "Erasing flash" "$tmp/holder.txt" || { cat "$tmp/holder.txt"; fail "the holder never erased"; }
    set +e
    bcu doctor --port COM12 >"$tmp/held.txt" 2>&1
    status=$?
    set -e
    kill -INT "$holder" 2>/dev/null || true
    sleep 1
    kill -INT "$holder" 2>/dev/null || true
    wait "$holder" 2>/dev/null || true
    cat "$tmp/held.txt"
    [[ $status -eq 4 ]] || fail "doctor, a held port: exit code $status, not 4"
    grep -E '^PROBLEM +holder +in use by another program' "$tmp/held.txt" >/dev/null ||
      fail "doctor does not call the held port in use"
    ;;

  *)
    echo "e2e: unknown case $case_name" >&2
    exit 2
    ;;
esac
echo "e2e $case_name: passed"
