#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test the project:
# the mingw-w64 cross compilers for i686 and x86-64, 64-bit Wine (and 32-bit
# Wine where the host can run it), an X server for the dialogs, Japanese
# fonts, GoogleTest sources, Google Benchmark and CLI11, clang with libFuzzer
# and the LLVM tools (symbolizer, coverage), and osslsigncode with openssl,
# which sign a packed launcher in the tests.
#
# 32-bit Wine (wine32:i386) is wanted only where scripts/can-run-i386 finds
# that the host executes 32-bit x86 programs; that check assembles a probe
# with binutils, so it runs once the 64-bit part (binutils among it) is
# installed. Where wine32 cannot be had (a mirror caught mid-sync on its
# i386 part), the set-up goes on without it and says so: the i686 build is
# then checked statically only.
#
# apt-get is retried with growing pauses while the mirror may be mid-sync:
# up to ZEPHRA_APT_PATIENCE seconds (default 600) for what the 64-bit part
# needs, at most 120 of them for the i386 part.
# Idempotent, and quick (one dpkg query) when everything is there.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

packages=(
  cmake make g++ binutils python3 locales
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine wine64
  xvfb xauth x11-utils imagemagick fonts-ipafont-gothic
  googletest libbenchmark-dev libcli11-dev
  clang libclang-rt-14-dev llvm-14
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
# seconds between tries. Its output goes to LOG.
apt_retry() {
  local limit=$1 log=$2 pause=10 started=$SECONDS allowed
  shift 2
  while :; do
    if $sudo "$@" >"$log" 2>&1; then return 0; fi
    allowed=$limit
    if only_i386_failed "$log" && [ "$patience_i386" -lt "$limit" ]; then allowed=$patience_i386; fi
    if [ $((SECONDS - started + pause)) -gt "$allowed" ]; then return 1; fi
    echo "setup: '$*' failed ($(failure_of "$log")); trying again in $pause s" >&2
    sleep $pause
    pause=$((pause * 2 > 60 ? 60 : pause * 2))
  done
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

# update_indexes: apt-get update, going on when only i386 indexes stay
# broken: they do not hold up the rest.
update_indexes() {
  if apt_retry "$patience" "$log" apt-get update -qq; then return 0; fi
  if only_i386_failed "$log"; then
    echo "setup: apt-get update could not fetch $(failure_of "$log"); going on with the other indexes" >&2
  else
    echo "setup: apt-get update failed for $patience s: $(failure_of "$log")" >&2
    exit 1
  fi
}

# The 64-bit part first: binutils among it, without which the 32-bit check
# below cannot make its probe and would answer "no" on a minimal image.
mapfile -t missing64 < <(missing_of "${packages[@]}")
if [ ${#missing64[@]} -gt 0 ]; then
  echo "setup: installing ${missing64[*]}" >&2
  update_indexes
  if ! apt_retry "$patience" "$log" apt-get install -y -qq --no-install-recommends "${missing64[@]}"; then
    echo "setup: could not install ${missing64[*]} within $patience s: $(failure_of "$log")" >&2
    exit 1
  fi
fi

# Then 32-bit Wine, only where the host runs 32-bit x86 programs.
if why=$("$here/can-run-i386"); then
  mapfile -t missing32 < <(missing_of "${packages_i386[@]}")
  if [ ${#missing32[@]} -gt 0 ]; then
    echo "setup: installing ${missing32[*]} ($why)" >&2
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
      $sudo dpkg --add-architecture i386
    fi
    update_indexes
    if ! apt_retry "$patience_i386" "$log" apt-get install -y -qq --no-install-recommends "${missing32[@]}"; then
      echo "setup: could not install ${missing32[*]}: $(failure_of "$log")" >&2
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
