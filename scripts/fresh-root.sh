#!/usr/bin/env bash
# Runs a command in a brand-new, minimal Debian 12 root, the way a new user's
# machine would see the project: nothing installed by hand, nothing left from
# an earlier build.
#
#   bash scripts/fresh-root.sh [COMMAND...]     (as root, inside a checkout)
#
# COMMAND runs in a clean clone of the checkout's committed HEAD (uncommitted
# changes are not part of the run); the default is the README's test command,
# "bash scripts/test.sh". The root is made once with
# `debootstrap --variant=minbase` from the mirror in this machine's apt
# sources and kept as a tarball in $MOSALUNE_ROOT_CACHE (default
# /var/cache/mosalune); each run unpacks a new copy, mounts /proc, /sys, /dev,
# /dev/pts, /dev/shm and a /tmp in it, runs the command with a plain
# environment, CI=true and no standard input, and afterwards ends every process
# whose root lies inside the copy, unmounts everything and deletes the copy.
#
# Exit status: the command's own; 125 when the root itself could not be set up.
set -euo pipefail

suite=bookworm
cache_dir=${MOSALUNE_ROOT_CACHE:-/var/cache/mosalune}
work_base=${TMPDIR:-/var/tmp}
plain_path=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin

say() { printf 'fresh-root: %s\n' "$*" >&2; }
fail() { say "error: $*"; exit 125; }

case ${1:-} in
  -h | --help)
    sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'
    exit 0
    ;;
  --) shift ;;
esac
if (($#)); then command=("$@"); else command=(bash scripts/test.sh); fi

[ "$(id -u)" -eq 0 ] || fail "run it as root: it needs debootstrap, mount and chroot"
top=$(git -c safe.directory='*' rev-parse --show-toplevel 2>/dev/null) ||
  fail "run it inside a git checkout of the project"
head=$(git -c safe.directory='*' -C "$top" rev-parse --verify HEAD 2>/dev/null) ||
  fail "the checkout has no commit"
case $work_base in /*) ;; *) fail "TMPDIR must be an absolute path" ;; esac
work_base=$(cd "$work_base" && pwd -P)

# ---------------------------------------------------------------- clean-up
work=        # the folder of this run; everything the run makes lies in it
cleaned=0
command_started=0

# Mount points at or below $1, innermost (most recently mounted) first.
mounts_below() {
  awk -v d="$1" '$5 == d || index($5, d "/") == 1 { print $5 }' /proc/self/mountinfo | tac
}

# Processes whose root directory is $1 or lies below it.
processes_inside() {
  local p r
  for p in /proc/[0-9]*; do
    r=$(readlink "$p/root" 2>/dev/null) || continue
    if [ "$r" = "$1" ] || [[ $r == "$1"/* ]]; then echo "${p#/proc/}"; fi
  done
}

end_processes_inside() {
  local root=$1 sig p i
  for sig in TERM KILL KILL; do
    local left
    left=$(processes_inside "$root")
    [ -n "$left" ] || return 0
    for p in $left; do
      # The root is looked at again right before the signal, so that a number
      # reused by an unrelated process in the meantime is never hit.
      if [[ $(readlink "/proc/$p/root" 2>/dev/null) == "$root"* ]]; then
        say "ending leftover process $p ($(tr '\0' ' ' <"/proc/$p/cmdline" 2>/dev/null | cut -c1-80))"
        kill -s "$sig" "$p" 2>/dev/null || true
      fi
    done
    for ((i = 0; i < 30; i++)); do
      [ -n "$(processes_inside "$root")" ] || return 0
      sleep 0.1
    done
  done
  [ -z "$(processes_inside "$root")" ] || say "warning: processes still run inside $root"
}

unmount_below() {
  local d=$1 m round
  for ((round = 0; round < 5; round++)); do
    local list
    list=$(mounts_below "$d")
    [ -n "$list" ] || return 0
    while IFS= read -r m; do
      m=$(printf '%b' "${m//\\/\\0}") # mountinfo escapes blanks as \040
      umount "$m" 2>/dev/null || { ((round < 3)) || umount -l "$m" 2>/dev/null; } || true
    done <<<"$list"
    sleep 0.2
  done
  [ -z "$(mounts_below "$d")" ]
}

cleanup() {
  ((cleaned)) && return 0
  cleaned=1
  set +e
  [ -n "$work" ] && [ -d "$work" ] || return 0
  end_processes_inside "$work/root"
  if unmount_below "$work"; then
    rm -rf --one-file-system -- "$work"
  else
    say "warning: something is still mounted below $work; left in place:"
    mounts_below "$work" >&2
  fi
}

on_exit() {
  local status=$1
  cleanup
  if ((status != 0 && !command_started)); then status=125; fi
  exit "$status"
}
trap 'on_exit $?' EXIT
trap 'trap "" INT TERM HUP; say "interrupted"; cleanup; trap - EXIT; exit 130' INT
trap 'trap "" INT TERM HUP; say "terminated"; cleanup; trap - EXIT; exit 143' TERM HUP

# ------------------------------------------------------------- apt sources
# "URI SUITE COMPONENTS..." for every enabled binary source of this machine,
# from both the one-line and the deb822 formats.
host_sources() {
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    awk '{ sub(/#.*/, "") }
      $1 == "deb" {
        i = 2
        if ($i ~ /^\[/) { while (i <= NF && $i !~ /\]$/) i++; i++ }
        line = $i; for (j = i + 1; j <= NF; j++) line = line " " $j
        print line
      }' "$f"
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk '
      function flush(   nu, ns, j, k, u, s) {
        if (types ~ /(^|[ \t])deb([ \t]|$)/ && enabled != "no") {
          nu = split(uris, u, /[ \t]+/); ns = split(suites, s, /[ \t]+/)
          for (j = 1; j <= nu; j++) for (k = 1; k <= ns; k++)
            if (u[j] != "" && s[k] != "") print u[j], s[k], comps
        }
        types = uris = suites = comps = enabled = key = ""
      }
      /^#/ { next }
      /^[ \t]*$/ { flush(); next }
      /^[ \t]/ { if (key == "components") comps = comps " " $0; next }
      {
        p = index($0, ":"); if (!p) next
        key = tolower(substr($0, 1, p - 1)); val = substr($0, p + 1)
        if (key == "types") types = val
        else if (key == "uris") uris = val
        else if (key == "suites") suites = val
        else if (key == "components") comps = val
        else if (key == "enabled") { gsub(/[ \t]/, "", val); enabled = tolower(val) }
      }
      END { flush() }' "$f"
  done
}

# What a fresh install's sources.list holds: the release, its updates and its
# security suite, component main, at the mirrors this machine uses.
fresh_sources() {
  host_sources | awk -v s="$suite" '
    ($2 == s || $2 == s "-updates" || $2 == s "-security") && $1 ~ /^https?:/ {
      for (i = 3; i <= NF; i++) if ($i == "main") {
        u = $1; sub(/\/+$/, "", u); line = "deb " u " " $2 " main"
        if (!seen[line]++) print line
      }
    }'
}

mirror=$(fresh_sources | awk -v s="$suite" '$3 == s { print $2; exit }')
[ -n "$mirror" ] || fail "this machine's apt sources name no '$suite' mirror with component main"

# --------------------------------------------------------- the cached root
cache=$cache_dir/$suite-minbase.tar.gz
mkdir -p "$cache_dir"
exec {lock}>"$cache_dir/.lock"
flock "$lock"
if [ ! -s "$cache" ]; then
  t0=$SECONDS
  if ! command -v debootstrap >/dev/null; then
    say "installing debootstrap"
    DEBIAN_FRONTEND=noninteractive apt-get update -q >&2
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends debootstrap >&2
  fi
  work=$(mktemp -d "$work_base/mosalune-root.XXXXXXXX")
  say "debootstrap --variant=minbase $suite from $mirror (once; kept in $cache)"
  debootstrap --variant=minbase --arch="$(dpkg --print-architecture)" "$suite" "$work/root" "$mirror" >&2 ||
    fail "debootstrap failed; see $work/root/debootstrap/debootstrap.log"
  unmount_below "$work" || fail "could not unmount what debootstrap left below $work"
  chroot "$work/root" apt-get clean
  # Nothing of this machine stays in the cached root.
  rm -f "$work/root/etc/resolv.conf" "$work/root/etc/hostname"
  find "$work/root/var/lib/apt/lists" -mindepth 1 -delete
  tar --numeric-owner --one-file-system -C "$work/root" -czf "$cache.part" .
  mv -f "$cache.part" "$cache"
  cleanup
  cleaned=0
  say "cached root ready ($(du -h "$cache" | cut -f1), $((SECONDS - t0)) s)"
fi
flock -u "$lock"
exec {lock}>&-

# ----------------------------------------------------------------- the run
t0=$SECONDS
work=$(mktemp -d "$work_base/mosalune-root.XXXXXXXX")
root=$work/root
mkdir "$root"
tar --numeric-owner -xzf "$cache" -C "$root"

rm -f "$root/etc/resolv.conf" "$root/etc/hostname" "$root/etc/apt/sources.list" "$root"/etc/apt/sources.list.d/*
cp -L /etc/resolv.conf "$root/etc/resolv.conf"
uname -n >"$root/etc/hostname"
[ -e "$root/etc/hosts" ] || printf '127.0.0.1\tlocalhost\n::1\tlocalhost ip6-localhost ip6-loopback\n' >"$root/etc/hosts"
fresh_sources >"$root/etc/apt/sources.list"

name=$(basename "$top")
say "cloning $name at ${head:0:12}"
mkdir -p "$root/src"
git -c safe.directory='*' clone -q --no-hardlinks "$top" "$root/src/$name"
git -C "$root/src/$name" checkout -q --detach "$head"

mount -t proc -o nosuid,nodev,noexec proc "$root/proc"
mount -t sysfs -o ro,nosuid,nodev,noexec sysfs "$root/sys"
mount -t tmpfs -o mode=755,nosuid,size=16m mosalune-dev "$root/dev"
for node in null:1:3 zero:1:5 full:1:7 random:1:8 urandom:1:9 tty:5:0; do
  IFS=: read -r n major minor <<<"$node"
  mknod -m 666 "$root/dev/$n" c "$major" "$minor"
done
ln -s /proc/self/fd "$root/dev/fd"
ln -s /proc/self/fd/0 "$root/dev/stdin"
ln -s /proc/self/fd/1 "$root/dev/stdout"
ln -s /proc/self/fd/2 "$root/dev/stderr"
mkdir -m 755 "$root/dev/pts"
mkdir -m 1777 "$root/dev/shm"
mount -t devpts -o newinstance,ptmxmode=0666,mode=620,gid=5 devpts "$root/dev/pts"
ln -s pts/ptmx "$root/dev/ptmx"
mount -t tmpfs -o mode=1777,nosuid,nodev mosalune-shm "$root/dev/shm"
mount -t tmpfs -o mode=1777,nosuid,nodev mosalune-tmp "$root/tmp"

say "running in /src/$name: ${command[*]}"
t1=$SECONDS
command_started=1
status=0
# A session of its own, no terminal, no input, a plain environment.
setsid -w chroot "$root" /usr/bin/env -i -C "/src/$name" \
  PATH="$plain_path" HOME=/root LANG=C.UTF-8 CI=true TERM=dumb \
  "${command[@]}" </dev/null || status=$?
t2=$SECONDS

cleanup
say "exit status $status; $((t1 - t0)) s to prepare the root, $((t2 - t1)) s for the command"
trap - EXIT
exit "$status"
