# Sourced by the window tests (tests/windows/window.sh) and the screenshots
# (scripts/windows-screenshots): runs bcu-window.exe under wine on a virtual X
# display of its own, with a virtual radio on COM5, and drives it with
# bcu-window-driver.exe.
#
# Needs WIN_BUILD (the Windows build) and HOST_BUILD (the native build).
# The window runs in a wine prefix of its own ($WIN_BUILD/window/wine-prefix),
# whose wineserver each run starts with the display set and ends afterwards:
# the prefix of the other Windows tests is left to them.
set -euo pipefail

WINDOW_BUILD=$(cd "$WIN_BUILD" && pwd)
HOST_BUILD=$(cd "$HOST_BUILD" && pwd)
window_exe=$WINDOW_BUILD/app/win32/bcu-window.exe
driver_exe=$WINDOW_BUILD/tests/bcu-window-driver.exe
radiosim=$HOST_BUILD/sim/bcu-radiosim
bcu_native=$HOST_BUILD/cli/bcu
for tool in "$window_exe" "$driver_exe" "$radiosim" "$bcu_native"; do
  [[ -e $tool ]] || { echo "window: $tool is missing" >&2; exit 2; }
done
for tool in Xvfb xwd; do
  command -v "$tool" >/dev/null || { echo "window: $tool is missing: run scripts/install-deps" >&2; exit 2; }
done

mkdir -p "$WINDOW_BUILD/window"
WIN_BUILD=$WINDOW_BUILD/window
# shellcheck source=../../scripts/wine-env
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine-env"
# The server wine-env started has no display: end it, so that the window's
# own start brings up one with the display below.
"$WINESERVER" -k 2>/dev/null || true
"$WINESERVER" -w 2>/dev/null || true

window_tmp=$(mktemp -d "${TMPDIR:-/tmp}/bcu-window.XXXXXX")
window_pids=()
window_cleanup() {
  local pid
  for pid in "${window_pids[@]}"; do
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  "$WINESERVER" -k 2>/dev/null || true
  if [[ -n ${xvfb_pid:-} ]]; then
    kill -TERM "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  if [[ -n ${E2E_KEEP:-} ]]; then echo "window: kept $window_tmp"; else rm -rf "$window_tmp"; fi
}
trap window_cleanup EXIT

window_fail() {
  echo "window ${case_name:-}: FAILED: $*" >&2
  exit 1
}

# A display of its own (the server picks a free number and writes it).
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$window_tmp/display" \
  >"$window_tmp/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 1 200); do
  [[ -s $window_tmp/display ]] && break
  sleep 0.05
done
[[ -s $window_tmp/display ]] || { cat "$window_tmp/xvfb.log" >&2; window_fail "Xvfb did not start"; }
export DISPLAY=:$(head -n 1 "$window_tmp/display")

# wine draws the Windows frames itself (no window manager runs here).
if [[ ! -f $WINEPREFIX/.bcu-window-ready ]]; then
  "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
  "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d Y /f >/dev/null 2>&1
  touch "$WINEPREFIX/.bcu-window-ready"
fi

# wine's own faces (the dialog face MS Sans Serif among them) in the
# prefix's font folder, where wine looks for them; without them every face
# falls back to a wider one of the system's and labels run into their values.
wine_fonts=/usr/share/wine/fonts
if [[ -e $wine_fonts/sserife.fon && ! -e $WINEPREFIX/drive_c/windows/Fonts/sserife.fon ]]; then
  mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
  cp "$wine_fonts"/* "$WINEPREFIX/drive_c/windows/Fonts/"
fi

winpath() {
  echo "Z:${1//\//\\}"
}

# The data folder of the prefix (%LOCALAPPDATA%\Brisant Code Updater).
window_data_dir() {
  echo "$("$WINE" winepath -u 'C:\users' 2>/dev/null | tr -d '\r')/$USER/AppData/Local/Brisant Code Updater"
}

# start_radio NAME [bcu-radiosim options]: a virtual radio on COM5.
start_radio() {
  local name=$1
  shift
  rm -f "$WINE_PORT_LINKS/COM5"
  "$radiosim" --link "$WINE_PORT_LINKS/COM5" --dump "$window_tmp/$name-dump" "$@" \
    >"$window_tmp/$name.out" 2>"$window_tmp/$name.err" &
  window_pids+=($!)
  radio_pid=$!
  local _
  for _ in $(seq 1 200); do
    [[ -L $WINE_PORT_LINKS/COM5 && -s $window_tmp/$name.out ]] && return 0
    sleep 0.05
  done
  cat "$window_tmp/$name.err" >&2
  window_fail "the virtual radio did not start"
}

# Ends the radio (its dump is written then).
stop_radio() {
  kill -INT "$radio_pid" 2>/dev/null || true
  wait "$radio_pid" 2>/dev/null || true
}

# start_window [bcu-window options]: the window on COM5, its work files in
# a folder of the run.
start_window() {
  mkdir -p "$window_tmp/work"
  (cd "$window_tmp/work" && exec "$WINE" "$window_exe" --port COM5 "$@") \
    >"$window_tmp/window.out" 2>"$window_tmp/window.err" &
  window_pid=$!
  window_pids+=("$window_pid")
}

# wait_window: the window program's exit code.
wait_window() {
  local status=0
  wait "$window_pid" || status=$?
  return "$status"
}

# drive SCENARIO [ON-SHOT-COMMAND]: runs the driver, its lines into
# $window_tmp/driver.txt; for each "SHOT name" line ON-SHOT-COMMAND runs with
# the name, then the driver goes on.
drive() {
  local scenario=$1 on_shot=${2:-}
  mkdir -p "$window_tmp/ack"
  local line status=0
  : >"$window_tmp/driver.txt"
  while IFS= read -r line; do
    line=${line%$'\r'}
    echo "$line" >>"$window_tmp/driver.txt"
    echo "driver: $line"
    if [[ $line == "SHOT "* && -n $on_shot ]]; then
      local shot=${line#SHOT }
      "$on_shot" "${shot%% *}" "${shot#* }"
      touch "$window_tmp/ack/${shot%% *}.done"
    fi
  done < <("$WINE" "$driver_exe" "$scenario" "$(winpath "$window_tmp/ack")" 2>&1; echo "EXIT $?")
  grep -q '^EXIT 0$' "$window_tmp/driver.txt" || status=1
  return "$status"
}

# take_shot NAME AREA: the screen's AREA (WxH+X+Y) as $SHOT_DIR/NAME.png.
# A dialog that lies wholly inside its owner reaches wine's own window on
# the display but not the screen's picture (it reads black there): so the
# picture is the root's, with every mapped top-level window's own contents
# laid over it at its place, bottom first.
take_shot() {
  local name=$1 area=$2 raw=$window_tmp/shot.png id place
  xwd -root -silent -display "$DISPLAY" | convert xwd:- "png:$raw"
  while read -r id place; do
    xwininfo -id "$id" -display "$DISPLAY" 2>/dev/null | grep -q 'Map State: IsViewable' || continue
    xwd -id "$id" -silent -display "$DISPLAY" 2>/dev/null |
      convert "png:$raw" xwd:- -geometry "$place" -composite "png:$raw" || true
  done < <(top_windows)
  convert "png:$raw" -crop "$area" +repage "png:$SHOT_DIR/$name.png"
  echo "screenshot: $SHOT_DIR/$name.png"
}

# The root's children larger than a point, bottom first, as "ID +X+Y".
top_windows() {
  xwininfo -root -children -display "$DISPLAY" |
    awk '$1 ~ /^0x/ { split($(NF - 1), size, /[x+]/); if (size[1] > 1 && size[2] > 1) print $1, $NF }' |
    tac
}
