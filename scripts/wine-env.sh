# Sourced by every script that runs Wine: the one place that says what a
# Wine call of this project runs with.
#
# zephra_wine_env PREFIX
#   Exports the prefix (made absolute: Wine refuses a relative one, and
#   ctest runs programs from other folders) and the settings every wine call
#   needs: 64-bit prefixes, which run the x86-64 build and, through WoW64 as
#   on users' 64-bit Windows, the i686 one; no Mono or Gecko install prompts;
#   quiet debug output (unless the caller has chosen WINEDEBUG); and the ANSI
#   code page 932, which Wine takes from the Unix locale variables when each
#   process starts (LC_ALL=ja_JP.UTF-8 gives GetACP() == 932 even where the
#   glibc locale is not compiled). ZEPHRA_WINE_LOCALE chooses another locale,
#   and so another code page (en_US.UTF-8: 1252, hi_IN.UTF-8: 65001), for the
#   processes started with it and the ones they start.
# wine PROGRAM [ARGS...]
#   Runs a program, without address-space randomisation (see below), with
#   Wine's 64-bit loader, or with the 32-bit one (wine32)
#   when PROGRAM is a 32-bit x86 file and that loader is installed: the way a
#   64-bit prefix runs i686 programs under WoW64. Debian's `wine` would try
#   the 32-bit loader for every program, which fails on hosts that cannot
#   execute 32-bit code even where wine32 is installed.

ZEPHRA_WINE_LOADER=/usr/lib/wine/wine64
[ -x "$ZEPHRA_WINE_LOADER" ] || ZEPHRA_WINE_LOADER=$(command -v wine64 || echo wine)

zephra_wine_env() {
  WINEPREFIX=$(realpath -m "${1:?zephra_wine_env PREFIX}")
  export WINEPREFIX
  export WINEARCH=win64
  export WINEDEBUG=${WINEDEBUG:--all}
  export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
  export LC_ALL=${ZEPHRA_WINE_LOCALE:-ja_JP.UTF-8}
}

ZEPHRA_WINE32_LOADER=/usr/lib/wine/wine

# Wine 8's loader reserves the address of the shared user data page
# (0x7ffe0000) as it starts, but under address-space randomisation its Unix
# heap now and then lies there already: about one start in 2,500 then dies,
# printing "failed to map the shared user data: c0000018" (nothing at all
# with WINEDEBUG=-all), and CreateProcess of such a start fails with
# ERROR_INTERNAL_ERROR. So Wine programs start without randomisation
# (setarch -R) where the host allows it, and the processes they start
# inherit that.
ZEPHRA_NO_ASLR=()
if setarch "$(uname -m)" -R true 2>/dev/null; then ZEPHRA_NO_ASLR=(setarch "$(uname -m)" -R); fi

wine() { "${ZEPHRA_NO_ASLR[@]}" "$(zephra_wine_loader_for "${1:-}")" "$@"; }

# zephra_wine_loader_for PROGRAM: the loader that wine() starts PROGRAM with.
zephra_wine_loader_for() {
  if [ -x "$ZEPHRA_WINE32_LOADER" ] && zephra_pe_is_i386 "$1"; then
    echo "$ZEPHRA_WINE32_LOADER"
  else
    echo "$ZEPHRA_WINE_LOADER"
  fi
}

# zephra_pe_is_i386 FILE: succeeds for a PE file whose machine is i386.
zephra_pe_is_i386() {
  [ -f "$1" ] || return 1
  local header
  header=$(od -An -t u4 -j 60 -N 4 "$1" 2>/dev/null | tr -d ' ') || return 1
  [ -n "$header" ] && [ "$(od -An -t x2 -j $((header + 4)) -N 2 "$1" 2>/dev/null | tr -d ' ')" = 014c ]
}

# zephra_wine_runs_i686
#   Succeeds where Wine can start the i686 build here: the host executes
#   32-bit x86 code (scripts/can-run-i386) and wine32 is installed. Else
#   prints why not.
zephra_wine_runs_i686() {
  local why
  why=$("$(dirname "${BASH_SOURCE[0]}")/can-run-i386") || { echo "$why"; return 1; }
  [ -x "$ZEPHRA_WINE32_LOADER" ] || { echo "32-bit Wine (wine32:i386) is not installed"; return 1; }
}
