#!/usr/bin/env bash
# Installed for a user and started from the menu entry, release 13.04.20
# works and updates itself to 13.04.21 in its own folder. The install is the
# project's own scripts/install-user.sh into a home folder of the test's own;
# the program is started by gio from the installed .desktop file, the way a
# desktop menu starts it, from a working folder elsewhere; then the same
# clicks as in the update round trip, on the real windows. Done twice: with
# the entry as installed, and once more with its working folder (Path=) left
# out, as a launcher that ignores it would start the program.
#
#   tst_menu_update.sh SOURCE_DIR OLD_BUILD_DIR NEW_PROGRAM_DIR HOST:PORT
#
# OLD_BUILD_DIR is a build tree of release 13.04.20 (programs and tools),
# NEW_PROGRAM_DIR holds the programs of 13.04.21; both read
# http://HOST:PORT/release.html.
source "$(dirname "$0")/lib.sh" "$3" "$4"
src=$1
old_build=$2
command -v gio >/dev/null || fail "gio is missing (scripts/setup.sh installs libglib2.0-bin)"

# The user: a home folder of the test's own and nothing of the caller's.
home=$work/home
mkdir -p "$home" "$work/runtime" "$work/launcher"
chmod 700 "$work/runtime"
export HOME=$home XDG_RUNTIME_DIR=$work/runtime
unset XDG_DATA_HOME XDG_CONFIG_HOME XDG_CACHE_HOME MOSALUNE_HOME DBUS_SESSION_BUS_ADDRESS
dir=$home/.local/opt/Mosalune
entry=$home/.local/share/applications/mosalune.desktop

# Everything in the home folder outside the program folder, with checksums
# of the files and the targets of the links: the update must not touch it.
outside() { (cd "$home" && find . -mindepth 1 -path ./.local/opt/Mosalune -prune -o -printf '%P %y %l\n' | LC_ALL=C sort |
  while read -r f type target; do
    case $type in f) printf '%s %s\n' "$f" "$(sha256sum <"$f" | cut -c1-64)" ;; *) printf '%s %s %s\n' "$f" "$type" "$target" ;; esac
  done); }

# One install, start from the menu, update and removal. $2 is the working
# folder that the program is expected to get from the launcher.
menu_round() {
  local name=$1 cwd=$2 pid updater notice i p
  : >"$work/nginx/logs/access.log"
  MOSALUNE_BUILD_DIR=$old_build bash "$src/scripts/install-user.sh" >"$work/install.log" 2>&1 ||
    fail "$name: the install failed: $(cat "$work/install.log")"
  [ -x "$dir/Mosalune.exe" ] && [ -f "$entry" ] || fail "$name: the install left no program or no menu entry"
  [ "$cwd" = "$dir" ] || sed -i '/^Path=/d' "$entry"
  local home_before tools_before
  home_before=$(outside)
  tools_before=$(snapshot "$dir/bin")

  # The menu's way: the entry's Exec line, run by the desktop's launcher,
  # here from a working folder that is neither the home nor the program folder.
  (cd "$work/launcher" && gio launch "$entry") >"$work/launch.log" 2>&1 ||
    fail "$name: gio could not launch the menu entry: $(cat "$work/launch.log")"
  for ((i = 0; i < 50; i++)); do
    pid=$(programs_in "$dir" | head -n 1)
    [ -n "$pid" ] && break
    sleep 0.1
  done
  [ -n "$pid" ] || fail "$name: nothing runs from the program folder after launching the menu entry"
  [ "$(readlink "/proc/$pid/exe")" = "$dir/Mosalune.exe" ] || fail "$name: the menu entry started $(readlink "/proc/$pid/exe")"
  # gio marks the process it starts for a desktop entry with its own id.
  tr '\0' '\n' <"/proc/$pid/environ" | grep -qxF "GIO_LAUNCHED_DESKTOP_FILE_PID=$pid" ||
    fail "$name: the running program was not started by the desktop entry launcher"
  [ "$(readlink "/proc/$pid/cwd")" = "$cwd" ] ||
    fail "$name: the program runs in $(readlink "/proc/$pid/cwd"), not in $cwd"
  log "$name: the menu entry started $dir/Mosalune.exe (pid $pid) in $cwd"

  notice=$(answer_question "$dir" "$name")
  updater=$(xdotool getwindowpid "$notice") || fail "$name: the notice window has no process id"
  [ "$(readlink "/proc/$updater/exe")" = "$dir/MSLUpdate.exe" ] ||
    fail "$name: the updater runs from $(readlink "/proc/$updater/exe"), not from the program folder"
  pid=$(finish_update "$dir" "$name" "$notice")
  [ "$(readlink "/proc/$pid/exe")" = "$dir/Mosalune.exe" ] ||
    fail "$name: the new main window belongs to $(readlink "/proc/$pid/exe"), not to the installed program"

  local expected actual
  expected=$(printf '%s\n' .mosalune-install Mosalune.exe MSLUpdate.exe 帮助.txt bin bin/mosalune-cut bin/mosalune-page \
    "${support_files[@]}" | LC_ALL=C sort)
  actual=$(cd "$dir" && find . -mindepth 1 -printf '%P\n' | LC_ALL=C sort)
  [ "$actual" = "$expected" ] || fail "$name: the program folder holds other files than expected: $actual"
  [ "$(snapshot "$dir/bin")" = "$tools_before" ] || fail "$name: the update changed the installed tools"
  [ -z "$(ls -A "$work/launcher")" ] ||
    fail "$name: files were written into the launcher's working folder: $(ls -A "$work/launcher")"
  diff <(echo "$home_before") <(outside) >"$work/diff.txt" ||
    fail "$name: the home folder changed outside the program folder: $(cat "$work/diff.txt")"
  "$home/.local/bin/mosalune-cut" --help >/dev/null || fail "$name: mosalune-cut no longer runs through its link"
  # The installed release is an unsigned build: it updates without asking for a signature.
  ! grep -q SHA256SUMS "$work/nginx/logs/access.log" || fail "$name: the unsigned build asked for SHA256SUMS"
  log "$name: 13.04.21 runs from $dir, every file equals what was served, nothing was written elsewhere"

  # Removing the install takes the update's files with it.
  for p in $(programs_in "$dir"); do kill "$p"; done
  for ((i = 0; i < 50; i++)); do
    [ -n "$(programs_in "$dir")" ] || break
    sleep 0.1
  done
  bash "$src/scripts/uninstall-user.sh" >"$work/uninstall.log" 2>&1 ||
    fail "$name: the removal failed: $(cat "$work/uninstall.log")"
  # A file only the update brought is no name the removal knows: it stays.
  [ "$(LC_ALL=C ls -A "$dir" | xargs)" = ".mosalune-install 帮助.txt" ] || fail "$name: the removal kept $(ls -A "$dir")"
  rm "$dir/帮助.txt" && bash "$src/scripts/uninstall-user.sh" >"$work/uninstall.log" 2>&1 || fail "$name: second removal"
  # The menu's cache of the user's entries stays for the others, without ours.
  local left
  left=$(find "$home" -mindepth 1 ! -type d ! -path "$home/.local/share/applications/mimeinfo.cache")
  [ -z "$left" ] || fail "$name: the removal left files behind: $left"
  ! grep -rqi mosalune "$home" || fail "$name: the removal left a mention of Mosalune: $(grep -rli mosalune "$home")"
  log "$name: the removal left no file of ours in the home folder"
}

start_xvfb
release_page "$full_list" >"$www/release.html"
start_nginx
menu_round menu "$dir"
menu_round menu-nopath "$work/launcher"
stop_nginx
log "menu update passed"
