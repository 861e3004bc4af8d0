#!/usr/bin/env bash
# The user install and its removal, in a home folder of the test's own.
# Usage: test_user_install.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src=$1
build=$2
home=$(mktemp -d)
xvfb_pid=
trap '[ -z "$xvfb_pid" ] || kill "$xvfb_pid"; rm -rf "$home"' EXIT
export HOME=$home XDG_DATA_HOME=$home/share MOSALUNE_BUILD_DIR=$build
unset MOSALUNE_HOME
fail() { echo "FAIL: $*"; exit 1; }
entry=$home/share/applications/mosalune.desktop
listing() { (cd "$1" && find . -printf '%P %s\n' | LC_ALL=C sort); }

# Neither a folder of the user's other files nor the home folder itself is
# installed into, and removing "the install" there touches none of them.
mkdir -p "$home/Apps/notes" && echo mine >"$home/Apps/License.txt"
before=$(listing "$home")
for target in "$home/Apps" "$home"; do
  ! MOSALUNE_HOME=$target bash "$src/scripts/install-user.sh" 2>/dev/null || fail "installed into $target"
  MOSALUNE_HOME=$target bash "$src/scripts/uninstall-user.sh" 2>/dev/null
done
[ "$(listing "$home")" = "$before" ] || fail "a refused install or its removal changed the home folder"

bash "$src/scripts/install-user.sh"
dir=$home/.local/opt/Mosalune
for program in Mosalune.exe MSLUpdate.exe; do
  [ -x "$dir/$program" ] || fail "$program is not an executable file in the program folder"
  cmp -s "$dir/$program" "$build/Mosalune/$program" || fail "$program differs from the build"
done
for tool in mosalune-cut mosalune-page; do
  [ -x "$home/.local/bin/$tool" ] || fail "$tool is not on the user's PATH folder"
  "$home/.local/bin/$tool" --help >/dev/null || fail "$tool --help failed through its link"
done
desktop-file-validate "$entry" || fail "the menu entry does not validate"
grep -qx "Exec=\"$dir/Mosalune.exe\" %f" "$entry" || fail "the menu entry does not start $dir/Mosalune.exe"
grep -q '^Name\[zh_CN\]=' "$entry" || fail "the menu entry has no Chinese name"
[ -s "$home/share/icons/hicolor/scalable/apps/mosalune.svg" ] || fail "no icon"
# The folder belongs to the user: the programs can write beside themselves.
[ -w "$dir" ] && [ -O "$dir" ] || fail "the program folder is not the user's own"

# Started from the menu with a picture, as "Open with" does: the window of the
# entry's class, with an icon, cuts that picture.
mkdir -p "$home/run" "$home/Pictures" && chmod 700 "$home/run"
cp "$src/tests/data/picture.png" "$home/Pictures/holiday.png"
mkfifo "$home/run/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$home/run/display" >/dev/null 2>&1 &
xvfb_pid=$!
read -r -t 20 display <"$home/run/display" || fail "Xvfb did not start"
(cd / && DISPLAY=:$display XDG_RUNTIME_DIR=$home/run gio launch "$entry" "$home/Pictures/holiday.png") ||
  fail "gio could not launch the menu entry with a picture"
for ((i = 0; i < 150; i++)); do
  window=$(DISPLAY=:$display xdotool search --onlyvisible --name '^ Mosalune   Ver' 2>/dev/null | head -n 1) && break
  sleep 0.2
done
[ -n "${window:-}" ] || fail "the main window did not appear"
class=$(sed -n 's/^StartupWMClass=//p' "$entry")
DISPLAY=:$display xprop -id "$window" WM_CLASS | grep -q ", \"$class\"\$" || fail "WM_CLASS is not \"$class\""
DISPLAY=:$display xprop -id "$window" _NET_WM_ICON | grep -q '^_NET_WM_ICON(CARDINAL)' || fail "the window has no icon"
DISPLAY=:$display xdotool mousemove --window "$window" 340 97 click 1
for ((i = 0; i < 50; i++)); do [ -f "$home/Pictures/8.jpg" ] && break; sleep 0.2; done
[ -f "$home/Pictures/8.jpg" ] || fail "the picture given to the menu entry was not loaded and cut"
kill "$(DISPLAY=:$display xdotool getwindowpid "$window")"

# Installing again over a used folder keeps working.
touch "$dir/License.txt"
bash "$src/scripts/install-user.sh" >/dev/null

# A link of the same name that points elsewhere is not the uninstaller's.
ln -sfn /bin/true "$home/.local/bin/mosalune-page"
# What the updater leaves while it works, and a picture of the user's cut there.
touch "$dir/NewMSLUpdate.exe" "$dir/mosalune-Ab12Cd.part" "$dir/mosalune-replace.journal" "$dir/photo.jpg" "$dir/1.jpg"
bash "$src/scripts/uninstall-user.sh" 2>/dev/null
[ "$(ls -A "$dir")" = "$(printf '%s\n' .mosalune-install 1.jpg photo.jpg)" ] ||
  fail "the removal kept other files than the user's: $(ls -A "$dir")"
rm "$dir/1.jpg" "$dir/photo.jpg"
bash "$src/scripts/uninstall-user.sh"
[ ! -e "$dir" ] || fail "the program folder is still there"
[ ! -e "$entry" ] || fail "the menu entry is still there"
[ ! -e "$home/share/icons/hicolor/scalable/apps/mosalune.svg" ] || fail "the icon is still there"
[ ! -L "$home/.local/bin/mosalune-cut" ] || fail "the mosalune-cut link is still there"
[ "$(readlink "$home/.local/bin/mosalune-page")" = /bin/true ] || fail "a foreign link was removed"
echo "user install: all checks passed"
