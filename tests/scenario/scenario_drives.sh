#!/usr/bin/env bash
# scenario_drives.sh setup|cleanup PREFIX ROOT LOCALES
#
# Drives for the launcher scenarios in the Wine prefix PREFIX:
#   S:  ROOT/s, a plain folder: a temporary folder at a drive root
#   U:  ROOT/u, a 1 MiB tmpfs: the disk fills while the launcher writes
#       (mounting needs root; without it ROOT/u stays unmounted, ROOT/u-mounted
#       is absent and the disk-full scenario skips)
# LOCALES receives a compiled ja_JP.UTF-8 locale for LOCPATH: Wine names Unix
# files in the C library's locale, and without that one it cannot create a
# folder whose name holds a Japanese character. A ctest fixture runs this, so
# the cleanup runs even when scenarios fail. Always exits 0.
set -u
action=${1:?usage: scenario_drives.sh setup|cleanup PREFIX ROOT LOCALES}
prefix=${2:?} root=${3:?} locales=${4:?}
here=$(cd "$(dirname "$0")" && pwd)

unmount() {
  mountpoint -q "$root/u" 2>/dev/null && umount "$root/u" 2>/dev/null
  rm -f "$root/u-mounted"
}

case $action in
  setup)
    "$here/../../scripts/wine-prefix" "$prefix" >/dev/null 2>&1
    unmount
    rm -rf "$root/s"
    mkdir -p "$root/s" "$root/u"
    if mount -t tmpfs -o size=1m,mode=0777 tmpfs "$root/u" 2>/dev/null; then
      touch "$root/u-mounted"
    else
      echo "scenario_drives: cannot mount tmpfs (not root?); the disk-full scenario will be skipped"
    fi
    ln -sfn "$root/s" "$prefix/dosdevices/s:"
    ln -sfn "$root/u" "$prefix/dosdevices/u:"
    if [ ! -f "$locales/ja_JP.UTF-8/LC_CTYPE" ]; then
      mkdir -p "$locales"
      localedef -i ja_JP -f UTF-8 "$locales/ja_JP.UTF-8" >/dev/null 2>&1 ||
        echo "scenario_drives: cannot compile the ja_JP.UTF-8 locale; Japanese folder names will fail"
    fi
    ;;
  cleanup)
    unmount
    rm -f "$prefix/dosdevices/s:" "$prefix/dosdevices/u:"
    rm -rf "$root/s"
    rmdir "$root/u" 2>/dev/null
    ;;
esac
exit 0
