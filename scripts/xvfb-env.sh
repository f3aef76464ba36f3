# Sourced: gives the caller an X display. Keeps $DISPLAY when one is set and
# answers; otherwise starts Xvfb on a free display number and stops it when
# the calling shell exits.
zephra_start_xvfb() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return 0; fi
  local n=90
  while [ -e /tmp/.X$n-lock ] || [ -e /tmp/.X11-unix/X$n ]; do n=$((n + 1)); done
  Xvfb :$n -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  ZEPHRA_XVFB_PID=$!
  export DISPLAY=:$n
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  trap 'kill $ZEPHRA_XVFB_PID 2>/dev/null' EXIT
}
