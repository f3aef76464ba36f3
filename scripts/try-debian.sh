#!/usr/bin/env bash
# try-debian.sh [--keep] RELEASE [COMMAND...]
# Runs the README's commands on another Debian release without a second
# machine: makes a fresh minimal root of RELEASE (debootstrap --variant=minbase,
# from the mirror this machine's apt uses, with git), clones the project's
# committed HEAD into it, binds /proc, /sys and /dev in, and runs there, one
# after the other and each as on a fresh machine,
#   scripts/demo.sh, scripts/test.sh, scripts/release.sh --check
# (or the COMMANDs given, each one shell command run in the clone).
#
# What comes back, under <build>/try-debian-RELEASE/ (build/ or ZEPHRA_BUILD):
# debootstrap.log, one log per command (command-N.log), the clone's
# build/test-logs/ and build/demo/ (screenshots, report), and summary.txt:
# the release, its Wine and compilers, and each command's exit code and wall
# time. Exits 0 when every command passed.
#
# The root is made in <build>/try-debian-RELEASE/root and removed at the end
# (--keep keeps it, for a look inside with chroot). Whatever way the script
# ends, the processes still running inside the root (an Xvfb, a wineserver)
# are ended and every mount under the root is undone; the root is removed
# only when nothing is mounted under it any more.
#
# Needs root and debootstrap (apt-get install debootstrap); uncommitted
# changes are not in the clone. The host's /tmp/.X11-unix is shared (see
# below). Takes as long as a fresh machine's set-up,
# builds and suite: on 2 cores about an hour for the three commands.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${ZEPHRA_BUILD:-$top/build}")

keep=0
if [ "${1:-}" = --keep ]; then keep=1; shift; fi
release=${1:?usage: try-debian.sh [--keep] RELEASE [COMMAND...]}
shift
commands=("$@")
[ ${#commands[@]} -gt 0 ] || commands=(scripts/demo.sh scripts/test.sh "scripts/release.sh --check")
case $release in
  *[!a-z0-9-]*|'') echo "try-debian: '$release' is no Debian release name (bookworm, trixie, ...)" >&2; exit 2 ;;
esac
if [ "$(id -u)" -ne 0 ]; then echo "try-debian: needs root (debootstrap, chroot, mount)" >&2; exit 1; fi
command -v debootstrap >/dev/null || { echo "try-debian: needs debootstrap (apt-get install debootstrap)" >&2; exit 1; }

# The mirror apt uses here: the first deb source of a release's main suite
# (not -security or -updates), from sources.list or a deb822 .sources file.
mirror() {
  local uri
  uri=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
        sed -nE 's/^deb[[:space:]]+(\[[^]]*\][[:space:]]+)?([^[:space:]]+)[[:space:]]+[a-z]+[[:space:]].*/\2/p' | head -1)
  if [ -z "$uri" ]; then
    uri=$(awk '
      /^[[:space:]]*$/ { if (deb && suite && u) { print u; exit } deb = suite = 0; u = ""; next }
      /^Types:/ { for (i = 2; i <= NF; i++) if ($i == "deb") deb = 1 }
      /^URIs:/ { u = $2 }
      /^Suites:/ { for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+$/) suite = 1 }
      END { if (deb && suite && u) print u }' /etc/apt/sources.list.d/*.sources 2>/dev/null | head -1)
  fi
  [ -n "$uri" ] || { echo "try-debian: no Debian mirror found in /etc/apt/sources.list or sources.list.d/" >&2; exit 1; }
  echo "$uri"
}

commit=$(git -C "$top" rev-parse HEAD)
if [ -n "$(git -C "$top" status --porcelain --untracked-files=no)" ]; then
  echo "try-debian: uncommitted changes are left out: the root gets commit ${commit:0:12}" >&2
fi
out=$build/try-debian-$release
root=$out/root

# cleanup: ends what still runs inside the root, undoes every mount under it
# (deepest first), and removes the root unless kept or still mounted on.
mounted_under() { findmnt -rn -o TARGET | awk -v r="$root" '$0 == r || index($0, r "/") == 1' | sort -r; }
cleanup() {
  local code=$? pid m tries
  trap - EXIT INT TERM HUP
  for tries in 1 2 3; do
    local inside=()
    for pid in $(ls /proc | grep -E '^[0-9]+$'); do
      [ "$(readlink "/proc/$pid/root" 2>/dev/null)" = "$root" ] && inside+=("$pid")
    done
    [ ${#inside[@]} -gt 0 ] || break
    kill -TERM "${inside[@]}" 2>/dev/null || true
    sleep 2
    [ $tries -lt 3 ] || kill -KILL "${inside[@]}" 2>/dev/null || true
  done
  for m in $(mounted_under); do umount -R "$m" 2>/dev/null || umount -R -l "$m" 2>/dev/null || true; done
  if [ -n "$(mounted_under)" ]; then
    echo "try-debian: still mounted, root kept: $(mounted_under | tr '\n' ' ')" >&2
    code=1
  elif [ $keep = 0 ] && [ -d "$root" ]; then
    rm -rf --one-file-system "$root"
  fi
  exit $code
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

# A fresh root every time: an earlier one (kept) goes first.
[ -z "$(mounted_under)" ] || { echo "try-debian: $root has mounts from elsewhere: $(mounted_under)" >&2; exit 1; }
rm -rf --one-file-system "$root" "$out"/*.log "$out/test-logs" "$out/demo" "$out/summary.txt"
mkdir -p "$root"
source=$(mirror)
echo "try-debian: debootstrap --variant=minbase $release from $source into $root"
started=$SECONDS
if ! debootstrap --variant=minbase --include=git,ca-certificates "$release" "$root" "$source" \
       >"$out/debootstrap.log" 2>&1; then
  echo "try-debian: debootstrap failed, see $out/debootstrap.log:" >&2
  tail -5 "$out/debootstrap.log" >&2
  exit 1
fi
echo "try-debian: root made in $((SECONDS - started)) s"
cp /etc/resolv.conf "$root/etc/resolv.conf"

for m in proc sys dev; do
  mkdir -p "$root/$m"
  mount --rbind "/$m" "$root/$m"
  mount --make-rslave "$root/$m"
done
# X servers listen on abstract sockets too, one namespace for the host and
# the root: the root's Xvfb must not take a display number the host's use,
# nor a host one the root's. Sharing the socket folder, where the scripts
# look for a free number, keeps the two apart.
mkdir -p /tmp/.X11-unix "$root/tmp/.X11-unix"
chmod 1777 /tmp/.X11-unix
mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix"

git clone -q --no-local "$top" "$root/root/zephra"
git -C "$root/root/zephra" checkout -q "$commit"

# in_root COMMAND: runs a shell command in the clone, with the environment
# of a fresh login (no display, no Wine prefix, no build root of the host).
in_root() {
  chroot "$root" /usr/bin/env -i HOME=/root TERM=dumb LANG=C.UTF-8 \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    bash -c "cd /root/zephra && $1"
}

status=0 n=0
results=()
for c in "${commands[@]}"; do
  n=$((n + 1))
  echo "== [$release] $c (log: $out/command-$n.log)"
  started=$SECONDS code=0
  # In the background and waited for: a signal to this script then ends
  # the wait at once, and the clean-up ends what runs in the root.
  in_root "$c" >"$out/command-$n.log" 2>&1 </dev/null &
  wait $! || code=$?
  results+=("$c: exit $code, $((SECONDS - started)) s")
  tail -n 30 "$out/command-$n.log"
  [ $code = 0 ] || status=1
done

cp -r "$root/root/zephra/build/test-logs" "$out/" 2>/dev/null || true
mkdir -p "$out/demo"
cp -r "$root/root/zephra/build/demo/shots" "$root/root/zephra/build/demo/report.txt" "$out/demo/" 2>/dev/null || true
{
  echo "release: $(. "$root/etc/os-release" && echo "$PRETTY_NAME"), commit $commit, from $source"
  echo "kernel: $(uname -r), $(nproc) cores; $(in_root scripts/can-run-i386 2>&1 || true)"
  for tool in "/usr/lib/wine/wine64 --version" "g++ --version" "x86_64-w64-mingw32-g++-posix --version" \
              "clang --version" "cmake --version"; do
    echo "${tool%% *}: $(in_root "$tool" 2>/dev/null | head -1 || echo missing)"
  done
  printf '%s\n' "${results[@]}"
} > "$out/summary.txt"
echo "== summary ($out/summary.txt)"
cat "$out/summary.txt"
exit $status
