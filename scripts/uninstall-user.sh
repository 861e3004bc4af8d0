#!/usr/bin/env bash
# Removes what scripts/install-user.sh put in place: from the program folder
# the files that the install and the programs wrote (support files, updates,
# the updater's temporary files), the folder itself only when nothing else is
# left in it; the menu entry, the icon and the tool links (only links that
# point into the program folder). Asks nothing.
#
#   bash scripts/uninstall-user.sh
set -euo pipefail
source "$(dirname "$0")/program-files.sh"

data_home=${XDG_DATA_HOME:-$HOME/.local/share}
program_dir=${MOSALUNE_HOME:-$HOME/.local/opt/Mosalune}
bin_dir=$HOME/.local/bin

for tool in mosalune-cut mosalune-page; do
  link=$bin_dir/$tool
  if [ -L "$link" ] && [ "$(readlink "$link")" = "$program_dir/bin/$tool" ]; then rm -f "$link"; fi
done
rm -f "$data_home/applications/mosalune.desktop" "$data_home/icons/hicolor/scalable/apps/mosalune.svg"
if command -v update-desktop-database >/dev/null; then update-desktop-database -q "$data_home/applications" || true; fi

if [ -d "$program_dir" ] && ! is_our_folder "$program_dir"; then
  echo "$program_dir 不是 Mosalune 安装的文件夹，其中的文件一个也没有删除" >&2
elif [ -d "$program_dir" ]; then
  kept=()
  while IFS= read -r -d '' entry; do
    if is_program_file "$entry" && [ "$entry" != "$install_marker" ] && [ ! -d "$program_dir/$entry" ]; then
      rm -f -- "$program_dir/$entry"
    else
      kept+=("$entry")
    fi
  done < <(program_folder_entries "$program_dir")
  rmdir -- "$program_dir/bin" 2>/dev/null || true
  if [ "${#kept[@]}" -eq 1 ] && [ "${kept[0]}" = "$install_marker" ] || [ "${#kept[@]}" -eq 0 ]; then
    rm -f -- "$program_dir/$install_marker"
    rmdir -- "$program_dir"
    echo "已删除 $program_dir"
  else
    # The marker stays: the folder is still the install's, for a new install
    # or another removal once the user has dealt with the rest.
    echo "$program_dir 中还有不是 Mosalune 写入的文件，已保留这些文件和文件夹：" >&2
    for entry in "${kept[@]}"; do [ "$entry" = "$install_marker" ] || echo "  $entry" >&2; done
  fi
fi
echo "已卸载"
