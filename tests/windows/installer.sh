#!/usr/bin/env bash
# The Windows installer under wine, in a prefix of its own: a silent install
# (with bcu.exe on the PATH) puts the files in place with a Start-menu entry
# and an Apps & features entry; the installed bcu.exe runs; a silent
# uninstall removes all of it and leaves the user's data folder alone.
#
# Usage: tests/windows/installer.sh WIN_BUILD
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
win_build=$(cd "$1" && pwd)
bash "$here/../../scripts/windows-installer" "$win_build" >/dev/null
version=$(sed -n 's/^project(BrisantCodeUpdater VERSION \([0-9.]*\).*/\1/p' "$here/../../CMakeLists.txt")
setup=$win_build/BrisantCodeUpdater-$version-setup.exe
zip=$win_build/BrisantCodeUpdater-$version-windows.zip

fail() {
  echo "installer: FAILED: $*" >&2
  exit 1
}

# The zip holds the same four files.
listing=$(unzip -Z1 "$zip" | sort | tr '\n' ' ')
[[ $listing == "BrisantCodeUpdater-$version/ BrisantCodeUpdater-$version/LICENSE.txt BrisantCodeUpdater-$version/README.txt BrisantCodeUpdater-$version/bcu-window.exe BrisantCodeUpdater-$version/bcu.exe " ]] ||
  fail "the zip holds: $listing"

mkdir -p "$win_build/installer-test"
WIN_BUILD=$win_build/installer-test
source "$here/../../scripts/wine-env"

unix() {
  "$WINE" winepath -u "$1" 2>/dev/null | tr -d '\r'
}
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\BrisantCodeUpdater'
env_key='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment'
program_dir=$(unix 'C:\Program Files\Brisant Code Updater')
menu_entry=$(unix 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Brisant Code Updater')/"Brisant Code Updater.lnk"
data_dir=$(unix 'C:\users')/$USER/AppData/Local/"Brisant Code Updater"

# A technician's data from earlier runs.
mkdir -p "$data_dir/backups/1234"
echo '{"serialNumber":"1234"}' >"$data_dir/history.jsonl"
echo backup >"$data_dir/backups/1234/old.bin"

"$WINE" "$setup" /S /PATH
"$WINESERVER" -w 2>/dev/null || true
for f in bcu-window.exe bcu.exe README.txt LICENSE.txt Uninstall.exe; do
  [[ -f $program_dir/$f ]] || fail "$f is not installed in $program_dir"
done
[[ -f $menu_entry ]] || fail "no Start-menu entry at $menu_entry"
"$WINE" reg query "$uninstall_key" /v DisplayVersion 2>/dev/null | tr -d '\r' | grep -q "$version" ||
  fail "the Apps & features entry has no version $version"
"$WINE" reg query "$uninstall_key" /v Publisher 2>/dev/null | grep -q "Brisant Radio Systems" ||
  fail "the Apps & features entry has no publisher"
"$WINE" reg query "$env_key" /v Path 2>/dev/null | grep -qi 'C:\\Program Files\\Brisant Code Updater' ||
  fail "bcu.exe is not on the PATH"
out=$("$WINE" "$program_dir/bcu.exe" --version 2>/dev/null | tr -d '\r')
echo "$out"
[[ $out == "bcu (Brisant Code Updater) $version"* ]] || fail "the installed bcu.exe --version: $out"

"$WINE" "$program_dir/Uninstall.exe" /S
"$WINESERVER" -w 2>/dev/null || true
[[ ! -e $program_dir ]] || fail "left after uninstalling: $(ls -A "$program_dir")"
[[ ! -e $menu_entry ]] || fail "the Start-menu entry is left"
if "$WINE" reg query "$uninstall_key" >/dev/null 2>&1; then fail "the Apps & features entry is left"; fi
if "$WINE" reg query "$env_key" /v Path 2>/dev/null | grep -qi 'Brisant Code Updater'; then
  fail "the PATH still holds the program folder"
fi
[[ -f $data_dir/history.jsonl && -f $data_dir/backups/1234/old.bin ]] ||
  fail "the uninstaller touched the data folder"
rm -rf "$data_dir"
echo "installer: passed ($(stat -c %s "$setup") bytes, zip $(stat -c %s "$zip") bytes)"
