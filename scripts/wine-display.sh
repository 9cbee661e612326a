# Sourced by the scripts that run kestrane.exe under Wine.
#
# start_display FIRST LAST: starts Xvfb on the first free display number from
# FIRST to LAST (1280x1024) and waits for it; sets xvfb_pid, for the caller
# to stop it by, and exports DISPLAY.
start_display() {
  local n display=""
  for n in $(seq "$1" "$2"); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=":$n"; break; fi
  done
  [ -n "$display" ] || { echo "no free X display number from :$1 to :$2" >&2; return 1; }
  Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
  export DISPLAY="$display"
}
