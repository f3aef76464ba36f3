# Sourced by the scripts that run Windows programs.
#
# zephra_wine_session PREFIX
#   Gives the caller an X display (the one in $DISPLAY when it answers, else
#   a private Xvfb), makes sure the Wine prefix PREFIX is set up and running
#   (scripts/wine-prefix) and exports what every wine call needs, code page
#   932 (LC_ALL=ja_JP.UTF-8) among it. When the calling shell exits, the
#   prefix's Wine server and the private Xvfb are stopped.
# winpath PATH
#   Prints a Unix path as Wine's Z: drive shows it.

zephra_start_xvfb() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return 0; fi
  local n=90
  while [ -e /tmp/.X$n-lock ] || [ -e /tmp/.X11-unix/X$n ]; do n=$((n + 1)); done
  Xvfb :$n -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  ZEPHRA_XVFB_PID=$!
  export DISPLAY=:$n
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
}

zephra_wine_session() {
  zephra_start_xvfb
  export WINEPREFIX=$1 WINEDEBUG=-all WINEARCH=win32 WINEDLLOVERRIDES="mscoree,mshtml="
  export LC_ALL=ja_JP.UTF-8
  "$(dirname "${BASH_SOURCE[0]}")/wine-prefix" "$WINEPREFIX"
  trap 'wineserver -k 2>/dev/null; [ -n "${ZEPHRA_XVFB_PID:-}" ] && kill $ZEPHRA_XVFB_PID 2>/dev/null; true' EXIT
}

winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
