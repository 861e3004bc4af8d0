#!/usr/bin/env bash
# Removes what scripts/install-user.sh put in place: the program folder (with
# the support files and updates written into it), the menu entry, the icon
# and the tool links (only links that point into the program folder).
#
#   bash scripts/uninstall-user.sh
set -euo pipefail

data_home=${XDG_DATA_HOME:-$HOME/.local/share}
program_dir=${MOSALUNE_HOME:-$HOME/.local/opt/Mosalune}
bin_dir=$HOME/.local/bin

for tool in mosalune-cut mosalune-page; do
  link=$bin_dir/$tool
  if [ -L "$link" ] && [ "$(readlink "$link")" = "$program_dir/bin/$tool" ]; then rm -f "$link"; fi
done
rm -f "$data_home/applications/mosalune.desktop" "$data_home/icons/hicolor/scalable/apps/mosalune.svg"
if command -v update-desktop-database >/dev/null; then update-desktop-database -q "$data_home/applications" || true; fi
# Only a folder that holds the main program is removed.
if [ -e "$program_dir/Mosalune.exe" ]; then
  rm -rf -- "$program_dir"
  echo "已删除 $program_dir"
elif [ -e "$program_dir" ]; then
  echo "$program_dir 中没有 Mosalune.exe，未删除该文件夹" >&2
fi
echo "已卸载"
