#!/usr/bin/env bash
# The user install and its removal, in a home folder of the test's own.
# Usage: test_user_install.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src=$1
build=$2
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME=$home XDG_DATA_HOME=$home/share MOSALUNE_BUILD_DIR=$build
unset MOSALUNE_HOME
fail() { echo "FAIL: $*"; exit 1; }

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
grep -qx "Exec=\"$dir/Mosalune.exe\"" "$entry" || fail "the menu entry does not start $dir/Mosalune.exe"
grep -q '^Name\[zh_CN\]=' "$entry" || fail "the menu entry has no Chinese name"
[ -s "$home/share/icons/hicolor/scalable/apps/mosalune.svg" ] || fail "no icon"
# The folder belongs to the user: the programs can write beside themselves.
[ -w "$dir" ] && [ -O "$dir" ] || fail "the program folder is not the user's own"

# Installing again over a used folder keeps working.
touch "$dir/License.txt"
bash "$src/scripts/install-user.sh" >/dev/null

# A link of the same name that points elsewhere is not the uninstaller's.
ln -sfn /bin/true "$home/.local/bin/mosalune-page"
bash "$src/scripts/uninstall-user.sh"
[ ! -e "$dir" ] || fail "the program folder is still there"
[ ! -e "$entry" ] || fail "the menu entry is still there"
[ ! -e "$home/share/icons/hicolor/scalable/apps/mosalune.svg" ] || fail "the icon is still there"
[ ! -L "$home/.local/bin/mosalune-cut" ] || fail "the mosalune-cut link is still there"
[ "$(readlink "$home/.local/bin/mosalune-page")" = /bin/true ] || fail "a foreign link was removed"
echo "user install: all checks passed"
