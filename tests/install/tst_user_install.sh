#!/usr/bin/env bash
# The user install and its removal, in a home folder of the test's own.
# Usage: tst_user_install.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src=$1
build=$2
home=$(mktemp -d)
trap 'kill ${xvfb_pid:-} 2>/dev/null; rm -rf "$home"' EXIT
export HOME=$home XDG_DATA_HOME=$home/share MOSALUNE_BUILD_DIR=$build
unset MOSALUNE_HOME
fail() { echo "FAIL: $*"; exit 1; }

# Neither a folder of the user's other files nor the home folder is installed into or emptied.
mkdir -p "$home/Apps/notes" && echo mine >"$home/Apps/License.txt" && before=$(find "$home" -printf '%P %s\n' | sort)
for target in "$home/Apps" "$home"; do
  ! MOSALUNE_HOME=$target bash "$src/scripts/install-user.sh" 2>/dev/null || fail "installed into $target"
  MOSALUNE_HOME=$target bash "$src/scripts/uninstall-user.sh" 2>/dev/null
done
[ "$(find "$home" -printf '%P %s\n' | sort)" = "$before" ] || fail "a refused install or its removal changed files"

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
entry=$home/share/applications/mosalune.desktop
desktop-file-validate "$entry" || fail "the menu entry does not validate"
grep -qx "Exec=\"$dir/Mosalune.exe\" %f" "$entry" || fail "the menu entry does not start $dir/Mosalune.exe"
grep -q '^Name\[zh_CN\]=' "$entry" || fail "the menu entry has no Chinese name"
[ -s "$home/share/icons/hicolor/scalable/apps/mosalune.svg" ] || fail "no icon"
# The folder belongs to the user: the programs can write beside themselves.
[ -w "$dir" ] && [ -O "$dir" ] || fail "the program folder is not the user's own"

# "Open with" through the menu entry: a window of the entry's class, with an icon, cuts that picture.
# -noreset: xdotool comes and goes while the program starts; a server that resets
# whenever its last client leaves would refuse the program at that moment.
mkdir -m 700 "$home/run" && mkfifo "$home/run/x" && cp "$src/tests/data/picture.png" "$home/holiday.png"
Xvfb -displayfd 3 -nolisten tcp -noreset 3>"$home/run/x" >/dev/null 2>&1 & xvfb_pid=$!
read -r -t 20 d <"$home/run/x" && export DISPLAY=:$d XDG_RUNTIME_DIR=$home/run || fail "Xvfb did not start"
(cd / && gio launch "$entry" "$home/holiday.png") || fail "gio could not launch the entry with a picture"
# xprop's output is read whole before it is searched: under pipefail, grep -q
# leaving early would fail the check by xprop's broken pipe.
icon=
for ((i = 0; i < 150; i++)); do w=$(xdotool search --onlyvisible --name '^ Mosalune   Ver' | head -n 1) || true
  [ -n "$w" ] && icon=$(xprop -id "$w" _NET_WM_ICON) && [[ $icon == _NET_WM_ICON\(CARDINAL\)* ]] && break; sleep 0.2; done
class=$(xprop -id "$w" WM_CLASS) || true
[[ $class == *"\"$(sed -n 's/^StartupWMClass=//p' "$entry")\"" ]] || fail "no window of the entry's class"
[[ $icon == _NET_WM_ICON\(CARDINAL\)* ]] || fail "the window has no icon"
xdotool mousemove --window "$w" 340 97 click 1 && for ((i = 0; i < 50; i++)); do [ -f "$home/8.jpg" ] && break; sleep 0.2; done
[ -f "$home/8.jpg" ] && kill "$(xdotool getwindowpid "$w")" || fail "the picture given to the menu entry was not cut"

# Installing again over a used folder keeps working.
touch "$dir/License.txt"
bash "$src/scripts/install-user.sh" >/dev/null

# A link of the same name that points elsewhere is not the uninstaller's.
ln -sfn /bin/true "$home/.local/bin/mosalune-page"
# What the updater leaves while it works, and the user's own pictures cut there.
touch "$dir/NewMSLUpdate.exe" "$dir/mosalune-Ab12Cd.part" "$dir/mosalune-replace.journal" "$dir/photo.jpg" "$dir/1.jpg"
bash "$src/scripts/uninstall-user.sh" 2>/dev/null
[ "$(LC_ALL=C ls -A "$dir" | xargs)" = ".mosalune-install 1.jpg photo.jpg" ] || fail "the removal kept $(ls -A "$dir")"
rm "$dir/1.jpg" "$dir/photo.jpg"
bash "$src/scripts/uninstall-user.sh"
[ ! -e "$dir" ] || fail "the program folder is still there"
[ ! -e "$entry" ] || fail "the menu entry is still there"
[ ! -e "$home/share/icons/hicolor/scalable/apps/mosalune.svg" ] || fail "the icon is still there"
[ ! -L "$home/.local/bin/mosalune-cut" ] || fail "the mosalune-cut link is still there"
[ "$(readlink "$home/.local/bin/mosalune-page")" = /bin/true ] || fail "a foreign link was removed"
echo "user install: all checks passed"
