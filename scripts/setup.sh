#!/usr/bin/env bash
# Installs what a fresh Debian machine (12 or 13) lacks to build and test the
# project: the mingw-w64 cross compilers for i686 and x86-64, 64-bit Wine (and
# 32-bit Wine where the host can run it), an X server for the dialogs,
# Japanese fonts, GoogleTest sources, Google Benchmark and CLI11, clang with
# libFuzzer and the LLVM tools (llvm-symbolizer for the sanitizers' reports,
# llvm-profdata and llvm-cov for scripts/fuzz.sh --coverage), and osslsigncode
# with openssl, which sign a packed launcher in the tests.
#
# Packages go by what the distribution offers, not by one release's names:
# the sanitizer and libFuzzer runtime and the LLVM tools are those of the
# clang installed (libclang-rt-N-dev and llvm-N for clang N: 14 on Debian
# 12, 19 on Debian 13).
#
# 32-bit Wine (wine32:i386) is wanted only where scripts/can-run-i386 finds
# that the host executes 32-bit x86 programs; that check assembles a probe
# with binutils, so it runs once the 64-bit part (binutils among it) is
# installed. Where wine32 cannot be had (a mirror caught mid-sync on its
# i386 part), the set-up goes on without it and says so: the i686 build is
# then checked statically only.
#
# A package the indexes do not have is named at once and never waited for:
# that answer is final. A failed download, or a mismatch of a mirror caught
# mid-sync, is retried with growing pauses: up to ZEPHRA_APT_PATIENCE seconds
# (default 600) for what the 64-bit part needs, at most 120 of them for the
# i386 part.
# Idempotent, and quick (one dpkg query) when everything is there.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

packages=(
  cmake make g++ binutils python3 locales
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine wine64
  xvfb xauth x11-utils imagemagick fonts-ipafont-gothic
  googletest libbenchmark-dev libcli11-dev
  clang
  osslsigncode openssl
)
packages_i386=(wine32:i386)
patience=${ZEPHRA_APT_PATIENCE:-600}
patience_i386=$((patience < 120 ? patience : 120))

if [ "$(id -u)" -ne 0 ]; then sudo=sudo; else sudo=; fi
export DEBIAN_FRONTEND=noninteractive

missing_of() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' || echo "$p"
  done
}

# apt_retry SECONDS LOG COMMAND...
# Runs an apt-get command until it succeeds or SECONDS have passed (at most
# patience_i386 while only i386 indexes fail), pausing 10, 20, 40, then 60
# seconds between tries. Its output goes to LOG. Returns 1 when time ran out,
# and 2 at once when apt-get found no such package (not_offered): no mirror
# sync makes a package of another release's name appear.
apt_retry() {
  local limit=$1 log=$2 pause=10 started=$SECONDS allowed
  shift 2
  while :; do
    if $sudo "$@" >"$log" 2>&1; then return 0; fi
    if [ -n "$(not_offered "$log")" ]; then return 2; fi
    allowed=$limit
    if only_i386_failed "$log" && [ "$patience_i386" -lt "$limit" ]; then allowed=$patience_i386; fi
    if [ $((SECONDS - started + pause)) -gt "$allowed" ]; then return 1; fi
    echo "setup: '$*' failed ($(failure_of "$log")); trying again in $pause s" >&2
    sleep $pause
    pause=$((pause * 2 > 60 ? 60 : pause * 2))
  done
}

# not_offered LOG: the packages apt-get said it has no such package of, one
# a line. An i386 package is left out while the i386 indexes could not be
# fetched: there its absence may be the mirror's sync, not the distribution.
not_offered() {
  grep -oE "Unable to locate package [^ ]+|Package '[^']+' has no installation candidate" "$1" |
    sed -E "s/^Unable to locate package //; s/^Package '([^']+)'.*/\1/" |
    { if [ "$i386_indexes" = stale ]; then grep -v ':i386$'; else cat; fi; } | sort -u || true
}

# What apt-get said failed, in one line: the indexes it could not fetch or
# the packages it could not install, else its last error.
failure_of() {
  local what
  what=$(grep -oE 'Failed to fetch [^ ]+' "$1" | sed 's/^Failed to fetch //' | sort -u | tr '\n' ' ' || true)
  [ -n "$what" ] || what=$(grep -oE "^ *[^ ]+ : Depends: [^ ]+|Unable to locate package [^ ]+|Package '[^']+' has no installation candidate" "$1" |
                           sed 's/^ *//' | sort -u | tr '\n' ';' || true)
  [ -n "$what" ] || what=$(grep -E '^E: ' "$1" | tail -1 || true)
  echo "${what:-exit code only, see $1}"
}

# Only indexes of the i386 architecture failed: the 64-bit part can go on.
only_i386_failed() {
  local fetched
  fetched=$(grep -oE 'Failed to fetch [^ ]+' "$1" || true)
  [ -n "$fetched" ] && ! grep -vq 'i386' <<<"$fetched"
}

log=$(mktemp)
trap 'rm -f "$log"' EXIT
i386_indexes=fresh
updated=0

# update_indexes: apt-get update (once a run), going on when only i386
# indexes stay broken: they do not hold up the rest.
update_indexes() {
  [ $updated = 0 ] || return 0
  updated=1 i386_indexes=fresh
  if apt_retry "$patience" "$log" apt-get update -qq; then return 0; fi
  if only_i386_failed "$log"; then
    i386_indexes=stale
    echo "setup: apt-get update could not fetch $(failure_of "$log"); going on with the other indexes" >&2
  else
    echo "setup: apt-get update failed for $patience s: $(failure_of "$log")" >&2
    exit 1
  fi
}

# install SECONDS PACKAGE...: installs those of the packages that are
# missing. Returns 1, having said why, when they could not be installed
# within SECONDS, and 2 when the distribution offers some of them not at all.
install() {
  local limit=$1 code=0 missing
  shift
  mapfile -t missing < <(missing_of "$@")
  [ ${#missing[@]} -gt 0 ] || return 0
  echo "setup: installing ${missing[*]}" >&2
  update_indexes
  apt_retry "$limit" "$log" apt-get install -y -qq --no-install-recommends "${missing[@]}" || code=$?
  case $code in
    0) ;;
    2) echo "setup: this distribution ($(distribution)) offers no package $(not_offered "$log" | paste -sd' ' |
                sed 's/ /, no package /g')" >&2 ;;
    *) echo "setup: could not install ${missing[*]} within $limit s: $(failure_of "$log")" >&2 ;;
  esac
  return $code
}

distribution() { (. /etc/os-release && echo "${PRETTY_NAME:-$ID}") 2>/dev/null || echo "unknown"; }

# The 64-bit part first: binutils among it, without which the 32-bit check
# below cannot make its probe and would answer "no" on a minimal image.
install "$patience" "${packages[@]}" || exit 1

# The runtime and tools of the clang installed, whichever release of LLVM
# the distribution's clang is: /usr/bin/clang leads to /usr/lib/llvm-N/.
clang_version=$(readlink -f "$(command -v clang)" | sed -nE 's|^/usr/lib/llvm-([0-9]+)/.*|\1|p')
if [ -z "$clang_version" ]; then
  echo "setup: cannot tell which LLVM release $(command -v clang) belongs to (not under /usr/lib/llvm-N/)" >&2
  exit 1
fi
llvm_packages=("libclang-rt-$clang_version-dev" "llvm-$clang_version")
# The unversioned tool names (llvm-symbolizer, which the sanitizers look up
# in PATH) come with the distribution's llvm, where it is of the same release.
if ! command -v llvm-symbolizer >/dev/null; then
  update_indexes
  if apt-cache depends llvm 2>/dev/null | grep -qx "  Depends: llvm-$clang_version"; then llvm_packages+=(llvm); fi
fi
install "$patience" "${llvm_packages[@]}" || exit 1

# Then 32-bit Wine, only where the host runs 32-bit x86 programs.
if why=$("$here/can-run-i386"); then
  if [ -n "$(missing_of "${packages_i386[@]}")" ]; then
    echo "setup: 32-bit Wine: $why" >&2
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
      $sudo dpkg --add-architecture i386
      updated=0
    fi
    if ! install "$patience_i386" "${packages_i386[@]}"; then
      echo "setup: going on with the 64-bit part: the i686 build is checked statically only" >&2
    fi
  fi
fi

# Wine names Unix files through the C library's locale: without a real
# ja_JP.UTF-8 it cannot create a file whose name holds a Japanese character,
# even though LC_ALL=ja_JP.UTF-8 already gives the ANSI code page 932.
if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; then
  echo "setup: compiling the ja_JP.UTF-8 locale" >&2
  $sudo localedef -i ja_JP -c -f UTF-8 ja_JP.UTF-8
fi
