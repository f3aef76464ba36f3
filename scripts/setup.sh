#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test the project:
# the mingw-w64 cross compiler, 32-bit Wine, an X server for the dialogs,
# Japanese fonts, GoogleTest sources, Google Benchmark and CLI11, clang with
# libFuzzer and the LLVM tools (symbolizer, coverage), and osslsigncode with
# openssl, which sign a packed launcher in the tests.
# Idempotent, and quick (one dpkg query) when everything is there.
set -euo pipefail

packages=(
  cmake make g++ python3 locales
  g++-mingw-w64-i686 wine wine32:i386
  xvfb xauth x11-utils imagemagick fonts-ipafont-gothic
  googletest libbenchmark-dev libcli11-dev
  clang libclang-rt-14-dev llvm-14
  osslsigncode openssl
)

if [ "$(id -u)" -ne 0 ]; then sudo=sudo; else sudo=; fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}" >&2
  dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Wine names Unix files through the C library's locale: without a real
# ja_JP.UTF-8 it cannot create a file whose name holds a Japanese character,
# even though LC_ALL=ja_JP.UTF-8 already gives the ANSI code page 932.
if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; then
  echo "setup: compiling the ja_JP.UTF-8 locale" >&2
  $sudo localedef -i ja_JP -c -f UTF-8 ja_JP.UTF-8
fi
