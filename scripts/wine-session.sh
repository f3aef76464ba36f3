# Sourced by the scripts that run Windows programs.
#
# zephra_wine_session PREFIX
#   Gives the caller an X display (the one in $DISPLAY when it answers, else
#   a private Xvfb; an error when neither answers), makes sure the Wine
#   prefix PREFIX is set up and running (scripts/wine-prefix) and exports
#   what every wine call needs (scripts/wine-env.sh). When the calling shell
#   exits, the prefix's Wine server and the private Xvfb are stopped, after
#   whatever EXIT trap the caller had set.
# winpath PATH
#   Prints a Unix path as Wine's Z: drive shows it.

. "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"

zephra_start_xvfb() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return 0; fi
  local n=90
  while [ -e /tmp/.X$n-lock ] || [ -e /tmp/.X11-unix/X$n ]; do n=$((n + 1)); done
  Xvfb :$n -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  ZEPHRA_XVFB_PID=$!
  export DISPLAY=:$n
  for _ in $(seq 100); do
    xdpyinfo >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "wine-session: no X server: \$DISPLAY does not answer and Xvfb :$n did not start within 10 s" >&2
  kill "$ZEPHRA_XVFB_PID" 2>/dev/null
  return 1
}

# Adds a command to the shell's EXIT trap, to run after the ones already set.
zephra_on_exit() {
  local command=$1 existing=
  eval "set -- $(trap -p EXIT)"  # trap -- 'COMMAND' EXIT
  [ $# -ge 3 ] && existing=$3
  trap "${existing:+$existing; }$command" EXIT
}

zephra_wine_session() {
  zephra_start_xvfb || return 1
  zephra_wine_env "$1" 2>/dev/null
  "$(dirname "${BASH_SOURCE[0]}")/wine-prefix" "$WINEPREFIX" || return 1
  zephra_on_exit 'wineserver -k 2>/dev/null; [ -n "${ZEPHRA_XVFB_PID:-}" ] && kill $ZEPHRA_XVFB_PID 2>/dev/null; true'
}

winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
