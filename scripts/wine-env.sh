# Sourced by every script that runs Wine: the one place that says what a
# Wine call of this project runs with.
#
# zephra_wine_env PREFIX
#   Exports the prefix (made absolute: Wine refuses a relative one, and
#   ctest runs programs from other folders) and the settings every wine call needs: 32-bit
#   prefixes, no Mono or Gecko install prompts, quiet debug output (unless
#   the caller has chosen WINEDEBUG), and the ANSI code page 932, which Wine
#   takes from the Unix locale variables (LC_ALL=ja_JP.UTF-8 gives
#   GetACP() == 932 even where the glibc locale is not compiled).

zephra_wine_env() {
  WINEPREFIX=$(realpath -m "${1:?zephra_wine_env PREFIX}")
  export WINEPREFIX
  export WINEARCH=win32
  export WINEDEBUG=${WINEDEBUG:--all}
  export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
  export LC_ALL=ja_JP.UTF-8
}
