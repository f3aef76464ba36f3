#!/usr/bin/env bash
# release.sh [--from-build BUILD] [--check]
# Writes the versioned release archives and their SHA256SUMS into
# $ZEPHRA_RELEASE_OUT (default dist/):
#   zephra-trial-tools-VERSION-linux-x86_64.tar.gz  bin/bundletool (stripped),
#       share/zephra-trial/ (the i686 launcher.exe, shipped.manifest),
#       share/doc/zephra_launcher/ (publishing.md, README.md, bundletool-json.md)
#   zephra-trial-tools-VERSION-windows.zip          bundletool.exe (i686, for
#       32- and 64-bit Windows from Vista on), the i686 launcher.exe,
#       shipped.manifest, publishing.md, README.md, bundletool-json.md
# each unpacking into a folder of its own name, as `cmake --install` lays the
# files out in the host tree and the i686 tree.
#
# By default from a clean tree: the committed HEAD exported (uncommitted
# changes are not in it), configured and built afresh (the tool and the
# launcher only). The same commit gives the same bytes: fixed file times (the
# commit's), sorted names, owner 0, no build paths in the programs, gzip -n,
# zip entries of fixed dates. --from-build packages the trees BUILD/host and
# BUILD/win32 as they are built instead (the test suite's quick check).
#
# Everything is built and run in a work folder of its own under
# $ZEPHRA_RELEASE_WORK (default: the build folder's release-work/), never in
# the temporary folder, which may forbid running programs; it is removed at
# the end.
#
# --check then proves the archives: SHA256SUMS verifies; everything shipped
# is exported and built once more from the commit, in a second folder, and
# packaged into the same bytes (with --from-build the same trees are only
# packaged again); the Linux tool runs; the unpacked Windows archive packs
# the demo payload with its bundletool.exe into its launcher.exe, which
# installs it under Wine (BUILD/win64's test packed_launcher_tests, which the
# suite builds); and the shipped documents walk through as written from each
# archive alone, the Windows lines as .bat files under Wine
# (scripts/walk-docs.py). Where this host cannot run i686 programs, the
# x86-64 build's bundletool.exe and launcher.exe take their place, with the
# archive's manifest, and the check says so. The demo payload and the Windows
# test come from the built trees (BUILD, or $ZEPHRA_BUILD, default build/).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "${ZEPHRA_RELEASE_OUT:-$top/dist}")
build= check=0
while [ $# -gt 0 ]; do
  case $1 in
    --from-build) build=$(realpath "${2:?--from-build BUILD}"); shift 2 ;;
    --check) check=1; shift ;;
    *) echo "usage: release.sh [--from-build BUILD] [--check]" >&2; exit 2 ;;
  esac
done
. "$top/scripts/wine-env.sh"
# The built trees whose Windows test and stand-in programs the check uses.
tests=${build:-$(realpath -m "${ZEPHRA_BUILD:-$top/build}")}

workroot=$(realpath -m "${ZEPHRA_RELEASE_WORK:-$tests/release-work}")
mkdir -p "$workroot"
work=$(mktemp -d -p "$workroot" release.XXXXXX)
trap 'rm -rf "$work"' EXIT
commit=$(git -C "$top" rev-parse --short=12 HEAD)
stamp=$(git -C "$top" log -1 --format=%ct HEAD)

# build_commit ROOT: the commit exported into ROOT/src, and what ships built
# in ROOT/build/host and ROOT/build/win32.
build_commit() {
  local root=$1
  mkdir "$root" "$root/src"
  git -C "$top" archive --format=tar HEAD | tar -x -C "$root/src"
  # ROOT's name is new on every run: the programs (the host's debug
  # information, whose hash is its build id, and assert's file names) name a
  # fixed one instead. The Windows trees map their folders already.
  cmake -S "$root/src" -B "$root/build/host" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEPHRA_COMMIT="$commit" \
        -DCMAKE_CXX_FLAGS="-ffile-prefix-map=$root=/zephra-release" >/dev/null
  cmake -S "$root/src" -B "$root/build/win32" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEPHRA_COMMIT="$commit" \
        -DCMAKE_TOOLCHAIN_FILE="$root/src/cmake/mingw-i686.cmake" >/dev/null
  build_trees "$root/build"
}
build_trees() {  # build_trees BUILD: what ships, built in BUILD/host and BUILD/win32
  cmake --build "$1/host" -j "$(nproc)" --target bundletool >/dev/null
  cmake --build "$1/win32" -j "$(nproc)" --target launcher bundletool >/dev/null
}

if [ -z "$build" ]; then
  # 1. A clean tree of the commit, built afresh.
  if [ -n "$(git -C "$top" status --porcelain --untracked-files=no)" ]; then
    echo "release: uncommitted changes are left out: the release is built from commit $commit"
  fi
  echo "release: building commit $commit in $work/a (the tool for Linux; the launcher and the tool for i686 Windows)"
  build_commit "$work/a"
  build=$work/a/build
else
  build_trees "$build"
fi

version=$("$build/host/bundletool" --version | sed -n 's/^bundletool \([^ ]*\) .*/\1/p')
linux=zephra-trial-tools-$version-linux-x86_64
windows=zephra-trial-tools-$version-windows

# 2. The archives of the installed trees.
package() {  # package BUILD OUT
  local from=$1 into=$2 stage
  stage=$(mktemp -d -p "$work")
  cmake --install "$from/host" --prefix "$stage/$linux" --strip >/dev/null
  cmake --install "$from/win32" --prefix "$stage/$windows" >/dev/null
  [ -f "$stage/$linux/share/zephra-trial/launcher.exe" ] || cp "$from/win32/launcher.exe" "$stage/$linux/share/zephra-trial/"
  find "$stage" -type d -exec chmod 755 {} + -o -type f -exec chmod 644 {} +
  chmod 755 "$stage/$linux/bin/bundletool" "$stage"/*/*.exe "$stage/$linux/share/zephra-trial/launcher.exe"
  find "$stage" -exec touch -h -d "@$stamp" {} +
  mkdir -p "$into"
  rm -f "$into/$linux.tar.gz" "$into/$windows.zip" "$into/SHA256SUMS"
  tar --sort=name --mtime="@$stamp" --owner=0 --group=0 --numeric-owner --format=gnu -C "$stage" -cf - "$linux" |
    gzip -9n > "$into/$linux.tar.gz"
  python3 - "$stage" "$windows" "$into/$windows.zip" "$stamp" <<'PY'
import os, sys, time, zipfile
stage, top, archive, stamp = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
date = time.gmtime(stamp)[:6]
with zipfile.ZipFile(archive, "w") as z:
    for here, dirs, files in sorted(os.walk(os.path.join(stage, top))):
        for name in sorted(files):
            path = os.path.join(here, name)
            info = zipfile.ZipInfo(os.path.relpath(path, stage), date)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 0
            with open(path, "rb") as f:
                z.writestr(info, f.read(), compresslevel=9)
PY
  (cd "$into" && sha256sum "$linux.tar.gz" "$windows.zip" > SHA256SUMS)
}
package "$build" "$out"
echo "release: $(cd "$out" && ls -l "$linux.tar.gz" "$windows.zip" SHA256SUMS | awk '{printf "%s%s (%d bytes)", sep, $NF, $5; sep=", "}') in $out"
[ $check = 1 ] || exit 0

# 3. The check.
(cd "$out" && sha256sum -c SHA256SUMS)
if [ "$build" = "$work/a/build" ]; then
  echo "release: building commit $commit once more, in $work/b"
  build_commit "$work/b"
  package "$work/b/build" "$work/again"
  again="building and packaging again in another folder gives the same bytes"
else
  package "$build" "$work/again"
  again="packaging $build again gives the same bytes (its programs were not built again)"
fi
for archive in "$linux.tar.gz" "$windows.zip" SHA256SUMS; do
  cmp "$out/$archive" "$work/again/$archive"
done
echo "release: $again"
mkdir "$work/unpacked"
tar -xzf "$out/$linux.tar.gz" -C "$work/unpacked"
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$out/$windows.zip" "$work/unpacked"
echo "release: the Linux archive's tool says: $("$work/unpacked/$linux/bin/bundletool" --version)"

unpacked=$work/unpacked/$windows
substitute=()
if why=$(zephra_wine_runs_i686); then
  tree=win32
  export ZEPHRA_TEST_BUNDLETOOL=$unpacked/bundletool.exe ZEPHRA_TEST_LAUNCHER=$unpacked/launcher.exe
  echo "release: the Windows archive's bundletool.exe packs the demo payload into its launcher.exe (i686, WoW64)"
else
  tree=win64
  export ZEPHRA_TEST_BUNDLETOOL=$tests/win64/bundletool.exe ZEPHRA_TEST_LAUNCHER=$tests/win64/launcher.exe
  substitute=(--substitute "bundletool.exe=$ZEPHRA_TEST_BUNDLETOOL")
  echo "release: the Windows archive's i686 programs cannot run on this host ($why); the x86-64 build's" \
       "bundletool.exe and launcher.exe of the same source take their place, with the archive's shipped.manifest"
fi
export ZEPHRA_TEST_MANIFEST=$unpacked/shipped.manifest ZEPHRA_TEST_PAYLOAD=$work/payload
python3 "$top/demo/make_payload.py" --programs "$tests/$tree/payload" --out "$work/payload" >/dev/null
# Inside the test suite the Wine session is already there; alone, start one.
if [ -z "${WINEPREFIX:-}" ]; then
  . "$top/scripts/wine-session.sh"
  zephra_wine_session "$tests/win64/wine"
fi
"$top/scripts/wine-run" "$tests/win64/tests/tools/packed_launcher_tests.exe" \
  --gtest_filter=ToolPackedLauncher.ShippedLayoutPacksVerifiesAndInstallsAllTen

# The guide and the archive's README, as written, from each archive alone.
python3 "$top/scripts/walk-docs.py" "$work/payload" "$work/walk" "$out/$linux.tar.gz" "$out/$windows.zip" \
  --wine-run "$top/scripts/wine-run" "${substitute[@]}"
