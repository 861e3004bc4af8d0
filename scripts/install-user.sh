#!/usr/bin/env bash
# Installs the built program folder for the current user, with a menu entry
# and the command-line tools on PATH. Run scripts/build.sh first (or
# scripts/start.sh once).
#
#   bash scripts/install-user.sh
#
# The programs write beside themselves (support files, updates), so they live
# in a folder the user owns: $MOSALUNE_HOME, default ~/.local/opt/Mosalune.
# The tools are linked into ~/.local/bin, the menu entry and icon go under
# ~/.local/share. The program folder has to be empty, new, or one that this
# script set up (it leaves a marker file there), so that
# scripts/uninstall-user.sh never removes anything that was there before.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/program-files.sh

data_home=${XDG_DATA_HOME:-$HOME/.local/share}
program_dir=${MOSALUNE_HOME:-$HOME/.local/opt/Mosalune}
bin_dir=$HOME/.local/bin
build_dir=${MOSALUNE_BUILD_DIR:-build}

[ -x "$build_dir/Mosalune/Mosalune.exe" ] || { echo "先构建程序：bash scripts/build.sh" >&2; exit 1; }
case $program_dir in /*) ;; *) echo "MOSALUNE_HOME 必须是绝对路径" >&2; exit 2 ;; esac
case $program_dir in *[\"\`\$\\%]*) echo "MOSALUNE_HOME 中不能含有 \" \` \$ \\ %" >&2; exit 2 ;; esac

if [ -e "$program_dir" ] || [ -L "$program_dir" ]; then
  is_our_folder "$program_dir" || {
    echo "$program_dir 不是空文件夹，也不是 Mosalune 安装的文件夹，没有安装。" >&2
    echo "请设置 MOSALUNE_HOME 为一个新的或空的文件夹（卸载时会删除其中 Mosalune 写入的文件）。" >&2
    exit 1
  }
fi
mkdir -p "$program_dir"
printf '%s\n' "Mosalune 的程序文件夹，由 scripts/install-user.sh 建立；" \
  "scripts/uninstall-user.sh 只删除这里 Mosalune 写入的文件。" >"$program_dir/$install_marker"
cmake --install "$build_dir" --prefix "$program_dir"

mkdir -p "$bin_dir" "$data_home/applications" "$data_home/icons/hicolor/scalable/apps"
for tool in mosalune-cut mosalune-page; do
  ln -sfn "$program_dir/bin/$tool" "$bin_dir/$tool"
done
install -m 644 packaging/mosalune.svg "$data_home/icons/hicolor/scalable/apps/mosalune.svg"
entry=$data_home/applications/mosalune.desktop
sed "s|@PROGRAM_DIR@|$program_dir|g" packaging/mosalune.desktop.in >"$entry.tmp"
mv -f "$entry.tmp" "$entry"
if command -v desktop-file-validate >/dev/null; then desktop-file-validate "$entry"; fi
if command -v update-desktop-database >/dev/null; then update-desktop-database -q "$data_home/applications" || true; fi

echo "已安装到 $program_dir"
echo "菜单项：$entry"
case ":$PATH:" in
  *":$bin_dir:"*) ;;
  *) echo "注意：$bin_dir 不在 PATH 中，mosalune-cut 和 mosalune-page 需要把它加入 PATH 后才能直接使用。" ;;
esac
