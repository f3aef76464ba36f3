#!/usr/bin/env bash
# small_drives.sh setup|cleanup PREFIX LETTER ROOT [LOCALES]
#
# Gives the Windows tests real media faults: ROOT (a folder of the build tree)
# becomes drive LETTER: of the Wine prefix PREFIX, and small file systems are
# mounted inside it:
#   ROOT/full-stream, ROOT/full-memory   256 KiB each: writes past it fail with
#                                        ERROR_DISK_FULL
#   ROOT/readonly                        mounted read-only: nothing can be created
#   ROOT/inodes                          room for two more items: the third
#                                        creation fails
# ROOT/mounted is written when every mount succeeded; tests that need one skip
# without it (mounting needs root). Registered with ctest as a fixture, so the
# cleanup runs even when tests fail. Always exits 0.
#
# LOCALES, when given, receives a compiled ja_JP.UTF-8 locale for LOCPATH.
# Wine names Unix files in the C library's locale; where ja_JP.UTF-8 is not
# installed it falls back to ASCII and cannot create a file whose name holds
# a Japanese character, although the ANSI code page is 932.
set -u
action=${1:?usage: small_drives.sh setup|cleanup PREFIX LETTER ROOT}
prefix=${2:?} letter=${3:?} root=${4:?} locales=${5:-}
here=$(cd "$(dirname "$0")" && pwd)
mounts="full-stream full-memory readonly inodes"

unmount_all() {
  for m in $mounts; do
    mountpoint -q "$root/$m" 2>/dev/null && umount "$root/$m" 2>/dev/null
  done
  rm -f "$root/mounted"
}

case $action in
  setup)
    # The prefix must exist before a drive can be added to it.
    "$here/../../scripts/wine-prefix" "$prefix" >/dev/null 2>&1
    mkdir -p "$root"
    unmount_all
    ok=1
    for m in $mounts; do mkdir -p "$root/$m"; done
    mount -t tmpfs -o size=256k,mode=0777 tmpfs "$root/full-stream" 2>/dev/null || ok=0
    mount -t tmpfs -o size=256k,mode=0777 tmpfs "$root/full-memory" 2>/dev/null || ok=0
    mount -t tmpfs -o ro,size=64k tmpfs "$root/readonly" 2>/dev/null || ok=0
    mount -t tmpfs -o size=64k,nr_inodes=3,mode=0777 tmpfs "$root/inodes" 2>/dev/null || ok=0
    if [ $ok = 1 ]; then
      touch "$root/mounted"
    else
      unmount_all
      echo "small_drives: cannot mount tmpfs (not root?); media-fault tests will be skipped"
    fi
    ln -sfn "$root" "$prefix/dosdevices/$letter:"
    if [ -n "$locales" ] && [ ! -f "$locales/ja_JP.UTF-8/LC_CTYPE" ]; then
      mkdir -p "$locales"
      localedef -i ja_JP -f UTF-8 "$locales/ja_JP.UTF-8" >/dev/null 2>&1 ||
        echo "small_drives: cannot compile the ja_JP.UTF-8 locale; Japanese file names will fail"
    fi
    ;;
  cleanup)
    unmount_all
    rm -f "$prefix/dosdevices/$letter:"
    for m in $mounts; do rmdir "$root/$m" 2>/dev/null; done
    rmdir "$root" 2>/dev/null
    ;;
esac
exit 0
