# What a user install of Mosalune and its programs put into the program
# folder, for scripts/install-user.sh and scripts/uninstall-user.sh (sourced
# by both). Nothing else in that folder is ever removed: it may be the
# user's own (a picture cut there, say).

# Written at install: a folder that holds it was set up by the install.
install_marker=.mosalune-install

# True for a name (relative to the program folder) that the install or the
# programs write: the programs and tools, the support files of the first
# start (each first under a .part name), a downloaded updater waiting for its
# swap, the updater's downloads under their temporary names and its journal
# of renames.
is_program_file() {
  case $1 in
    Mosalune.exe | MSLUpdate.exe | NewMSLUpdate.exe | "$install_marker" | bin/mosalune-cut | bin/mosalune-page) return 0 ;;
    BrontelSkin.dll | Brontel.Skin | License.txt | ReadMe.txt | WhatsNew.txt | 广告合作及其协议.txt) return 0 ;;
    BrontelSkin.dll.part | Brontel.Skin.part | License.txt.part | ReadMe.txt.part | WhatsNew.txt.part) return 0 ;;
    广告合作及其协议.txt.part | mosalune-??????.part | mosalune-replace.journal*) return 0 ;;
  esac
  return 1
}

# The entries of the program folder $1, each ended by a NUL, bin's own
# listed inside it ("bin/...") instead of bin itself.
program_folder_entries() {
  (cd "$1" && find . -mindepth 1 -maxdepth 1 ! \( -name bin -type d \) -printf '%P\0' &&
    if [ -d bin ] && [ ! -L bin ]; then find bin -mindepth 1 -maxdepth 1 -printf '%p\0'; fi)
}

# True when folder $1 is ours: it holds the marker, or nothing but the names
# above (an empty folder, or an install made before the marker existed).
is_our_folder() {
  local entry
  [ -d "$1" ] && [ ! -L "$1" ] || return 1
  [ -f "$1/$install_marker" ] && return 0
  while IFS= read -r -d '' entry; do
    is_program_file "$entry" || return 1
  done < <(program_folder_entries "$1")
}
