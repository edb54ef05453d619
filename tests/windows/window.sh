#!/usr/bin/env bash
# Tests of the Windows window: bcu-window.exe under wine on a virtual X
# display, against the Linux virtual radio (bcu-radiosim of the native build)
# on COM5, driven from outside by bcu-window-driver.exe through the messages
# a user's clicks send. One case per call; ctest runs them one at a time.
#
# Usage: tests/windows/window.sh CASE WIN_BUILD HOST_BUILD
#   CASE: retrieve, update, stop, close, failure
set -euo pipefail

case_name=$1
WIN_BUILD=$2
HOST_BUILD=$3
source "$(dirname "$0")/window-env.sh"
tmp=$window_tmp
scale=0.01

sample_codeplug() {
  "$bcu_native" codeplug sample --format "$1" "$2" >/dev/null
}

# The radio holds the embedded application code and the codeplug converted
# to the format its new code expects.
check_update_result() {
  # check_update_result DUMP_DIR RADIO_CODEPLUG
  "$bcu_native" firmware export "$tmp/firmware" >/dev/null
  "$bcu_native" codeplug convert --to 5.10 "$2" "$tmp/expected-codeplug.bin" >/dev/null
  python3 - "$tmp/firmware" "$1" "$tmp/expected-codeplug.bin" <<'PY'
import os, sys
firmware, dump, expected = sys.argv[1:4]
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
code = [n for n in sorted(os.listdir(firmware)) if n.startswith("Code.")][0]
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

# The radio's code is not the whole application (the download was cut).
check_code_incomplete() {
  "$bcu_native" firmware export "$tmp/firmware" >/dev/null
  python3 - "$tmp/firmware" "$1" <<'PY'
import os, sys
firmware, dump = sys.argv[1:3]
code = [n for n in sorted(os.listdir(firmware)) if n.startswith("Code.")][0]
size = 0
for line in open(os.path.join(firmware, code), errors="replace"):
    kind = line[:2]
    digits = {"S1": 4, "S2": 6, "S3": 8}.get(kind)
    if digits: size += int(line[2:4], 16) - digits // 2 - 1
path = os.path.join(dump, "code.bin")
got = open(path, "rb").read() if os.path.exists(path) else b""
written = len(got.rstrip(b"\xff"))
print(f"application code on the radio: {written} of {size} bytes")
if written >= size:
    sys.exit("the whole application was written after the stop")
if os.path.exists(os.path.join(dump, "codeplug-received.bin")):
    sys.exit("a codeplug was written after the stop")
PY
}

# The driver's first line that holds $1; nothing (and success) when none does.
driver_says() {
  grep -F "$1" "$tmp/driver.txt" | head -n 1 || true
}

case $case_name in
  retrieve)
    # Retrieve while idle fills the panel with the radio's values, the same
    # that bcu info reads from it.
    start_radio radio --time-scale "$scale" --start-mode application --serial 0123456789ABCDEF \
      --format-before 5.9
    start_window --delay-scale "$scale"
    drive retrieve || window_fail "the driver: $(tail -n 2 "$tmp/driver.txt")"
    wait_window || window_fail "bcu-window.exe ended with exit code $?"
    "$bcu_native" info --port "$WINE_PORT_LINKS/COM5" --json >"$tmp/info.json" ||
      window_fail "bcu info on the same radio"
    stop_radio
    python3 - "$tmp/driver.txt" "$tmp/info.json" <<'PY' || window_fail "the version panel"
import json, sys
lines = open(sys.argv[1]).read().splitlines()
panel = dict(l[6:].split("=", 1) for l in lines if l.startswith("PANEL "))
info = json.load(open(sys.argv[2]))
assert panel["SerialNumber"] == "01-23-45-67-89-AB-CD-EF", panel
assert panel["FileFormat"] == info["fileFormatVersion"] and panel["FileFormat"], (panel, info)
pairs = {"DSP": "dspSoftwareVersion", "Controller": "controllerVersion",
         "HardwareRevision": "hardwareRevision", "SerialNumber": "serialNumber",
         "BootLoad": "bootVersion", "SEM": "semVersion",
         "ControllerHeading": "controllerVersionHeading"}
for mine, theirs in pairs.items():
    assert panel[mine] == info[theirs], (mine, panel[mine], info[theirs])
widths = [int(l.split()[1]) for l in lines if l.startswith("WIDTH ")]
# The panel opens the window by its own width and 5 pixels (design pixels
# at 96 dots per inch, which the display has).
assert widths == [417, 695], widths
print("version panel:", panel)
PY
    ;;

  update)
    # A whole update from the window ends "Done." with the embedded code and
    # the converted codeplug on the radio, and adds its line to the update
    # history in the prefix's %LOCALAPPDATA% (the prefix keeps the lines of
    # earlier runs).
    sample_codeplug 5.9 "$tmp/radio.bin"
    serial=2626000000000001
    history="$(window_data_dir)/history.jsonl"
    lines_before=$(grep -c "\"serialNumber\":\"$serial\"" "$history" 2>/dev/null || true)
    start_radio radio --time-scale "$scale" --codeplug "$tmp/radio.bin" --serial $serial
    start_window --delay-scale "$scale"
    drive update || window_fail "the driver: $(tail -n 2 "$tmp/driver.txt")"
    wait_window || window_fail "bcu-window.exe ended with exit code $?"
    stop_radio
    [[ $(driver_says "STATUS ") == "STATUS Done." ]] || window_fail "the update ended: $(driver_says "STATUS ")"
    [[ $(driver_says "RUNNING ") == "RUNNING Stop" ]] || window_fail "Start did not become Stop"
    check_update_result "$tmp/radio-dump" "$tmp/radio.bin" || window_fail "radio contents"
    [[ -z $(ls -A "$tmp/work") ]] || window_fail "work files left behind: $(ls -A "$tmp/work")"
    lines_after=$(grep -c "\"serialNumber\":\"$serial\"" "$history" 2>/dev/null || true)
    ((${lines_after:-0} == ${lines_before:-0} + 1)) ||
      window_fail "the history has ${lines_after:-0} lines of the radio, ${lines_before:-0} before the run"
    grep "\"serialNumber\":\"$serial\"" "$history" | tail -n 1 >"$tmp/history-line.json"
    backup=$(python3 - "$tmp/history-line.json" <<'PY'
import json, sys
r = json.load(open(sys.argv[1]))
assert r["outcome"] == {"code": 0, "text": "Done."}, r["outcome"]
assert r["port"] == "COM5", r["port"]
assert r["codeplugFormatBefore"] == "5.9" and r["codeplugFormatAfter"] == "5.10", r
assert r["versionsAfter"]["fileFormatVersion"] == "5.10", r["versionsAfter"]
assert r["backupFile"], r
print(r["backupFile"])
PY
    ) || window_fail "the history line: $(cat "$tmp/history-line.json")"
    unix=$("$WINE" winepath -u "$backup" 2>/dev/null | tr -d '\r')
    [[ $unix == "$(window_data_dir)/backups/$serial/"*.bin && -f $unix ]] ||
      window_fail "the history's backup is not the radio's backup: $backup ($unix)"
    cmp -s -n "$(stat -c %s "$tmp/radio.bin")" "$unix" "$tmp/radio.bin" ||
      window_fail "the backup differs from the radio's codeplug"
    ;;

  stop)
    # Stop during the code download: the run ends at the next block, and
    # nothing more goes to the radio (no more code, no codeplug).
    sample_codeplug 5.9 "$tmp/radio.bin"
    start_radio radio --time-scale 0.02 --codeplug "$tmp/radio.bin" --serial 2626000000000002
    start_window --delay-scale 0.02
    drive stop || window_fail "the driver: $(tail -n 2 "$tmp/driver.txt")"
    wait_window || window_fail "bcu-window.exe ended with exit code $?"
    stop_radio
    stopping=$(driver_says "STOPPING ")
    status=$(driver_says "STATUS ")
    # While the run unwinds the button offers no new Start; an unwind that
    # was over before the driver looked has ended with the stop's own text.
    [[ $stopping == "STOPPING Stopping..." || $stopping == "STOPPING Stop Now" ||
       ($stopping == "STOPPING Start" && $status == "STATUS Stopped."*) ]] ||
      window_fail "the button after Stop: $stopping ($status)"
    check_code_incomplete "$tmp/radio-dump" || window_fail "written after the stop"
    [[ -z $(ls -A "$tmp/work") ]] || window_fail "work files left behind: $(ls -A "$tmp/work")"
    ;;

  close)
    # Closing during the download asks; after Yes the window stays until the
    # run has unwound, then closes, and the program ends cleanly.
    sample_codeplug 5.9 "$tmp/radio.bin"
    start_radio radio --time-scale 0.02 --codeplug "$tmp/radio.bin" --serial 2626000000000003
    start_window --delay-scale 0.02
    drive close || window_fail "the driver: $(tail -n 2 "$tmp/driver.txt")"
    wait_window || window_fail "bcu-window.exe ended with exit code $?"
    stop_radio
    grep -qxF "BOX Confirm: Update in progress.  Are you sure you want to quit?" "$tmp/driver.txt" ||
      window_fail "the close question: $(driver_says "BOX Confirm")"
    unwinding=$(driver_says "UNWINDING ")
    [[ -z $unwinding || $unwinding =~ ^UNWINDING\ (Stopping\.\.\.|Stop\ Now)\ \| ]] ||
      window_fail "while unwinding: $unwinding"
    grep -qx CLOSED "$tmp/driver.txt" || window_fail "the window did not close"
    check_code_incomplete "$tmp/radio-dump" || window_fail "written after the close"
    [[ -z $(ls -A "$tmp/work") ]] || window_fail "work files left behind: $(ls -A "$tmp/work")"
    ;;

  failure)
    # The radio stores a word of its codeplug other than it was sent: the
    # read-back finds it. The status line shows the whole text with the
    # backup's full path (taking the lines it needs), a box names it too,
    # and the backup holds the radio's codeplug.
    sample_codeplug 5.9 "$tmp/radio.bin"
    serial=2626000000000004
    start_radio radio --time-scale "$scale" --codeplug "$tmp/radio.bin" --serial $serial \
      --alter-stored-word 500
    start_window --delay-scale "$scale"
    drive failure || window_fail "the driver: $(tail -n 2 "$tmp/driver.txt")"
    wait_window || window_fail "bcu-window.exe ended with exit code $?"
    stop_radio
    status=$(driver_says "STATUS ")
    # The box's text runs over several lines of the driver's record, up to
    # the status line that follows it.
    box=$(sed -n '/kept in this file/,/^STATUS /p' "$tmp/driver.txt" | grep -v '^STATUS ')
    [[ $status == "STATUS An error occurred while downloading the codeplug."* ]] ||
      window_fail "the status: $status"
    [[ $box == "BOX Brisant Code Updater: "* ]] || window_fail "the box: $box"
    backup=$(grep -o -E '[A-Z]:\\[^|"]*\.bin' <<<"$box" | head -n 1)
    [[ -n $backup ]] || window_fail "the box names no backup: $box"
    [[ $status == *"$backup"* ]] || window_fail "the status line does not show $backup in full: $status"
    unix=$("$WINE" winepath -u "$backup" 2>/dev/null | tr -d '\r')
    [[ $unix == "$(window_data_dir)/backups/$serial/"*.bin ]] || window_fail "the backup is at $unix"
    "$bcu_native" codeplug convert --to 5.9 "$tmp/radio.bin" "$tmp/radio-5.9.bin" >/dev/null 2>&1 ||
      cp "$tmp/radio.bin" "$tmp/radio-5.9.bin"
    n=$(stat -c %s "$tmp/radio.bin")
    cmp -s -n "$n" "$unix" "$tmp/radio.bin" || window_fail "the backup differs from the radio's codeplug"
    rm -rf "$(window_data_dir)/backups/$serial"
    read -r _ height _ bar <<<"$(driver_says "STATUSHEIGHT ")"
    ((height > 2 * bar)) || window_fail "the status line did not grow for the long text ($height px)"
    [[ $(driver_says "PROGRESS ") == "PROGRESS 0" ]] || window_fail "the bar: $(driver_says "PROGRESS ")"
    ;;

  *)
    echo "window: unknown case $case_name" >&2
    exit 2
    ;;
esac
echo "window $case_name: passed"
