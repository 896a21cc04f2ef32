# Sourced by the test scripts: a headless Wine session of our own.
#   wine_session_start BUILD_DIR   - Xvfb display, WINEPREFIX under BUILD_DIR, wineserver
#   wine_session_stop              - ends only what wine_session_start started
#   wine_session_warm_up           - (re)starts Wine's services detached from our output
# Exports WINEPREFIX, WINEDEBUG, DISPLAY, WINEDLLOVERRIDES for the tests.

wine_session_start() {
  local build=$1
  export WINEPREFIX="$build/wine/prefix"
  export WINEDEBUG=-all
  # No Gecko/Mono install prompts on a new prefix.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export WINEARCH=${WINEARCH:-win64}
  mkdir -p "$build/wine" "$build/screenshots"
  # An audio device that plays into nothing, for the multimedia calls.
  mkdir -p "$build/wine/home"
  printf 'pcm.!default { type null }\nctl.!default { type hw card 0 }\n' > "$build/wine/home/.asoundrc"
  export HOME="$build/wine/home"

  # Where the 32-bit loader cannot run, `wine` means the 64-bit one for the
  # tests and for every script they call.
  # shellcheck source=wine-arch.sh
  source "$(dirname "${BASH_SOURCE[0]}")/wine-arch.sh"
  if ! wine_runs_32bit; then
    mkdir -p "$build/wine/bin"
    printf '#!/bin/sh\nexport WINELOADER=/usr/lib/wine/wine64\n[ -n "$WINEDEBUG" ] || export WINEDEBUG=fixme-all\nexec /usr/lib/wine/wine64 "$@"\n' >"$build/wine/bin/wine"
    chmod +x "$build/wine/bin/wine"
    case ":$PATH:" in *":$build/wine/bin:"*) ;; *) export PATH="$build/wine/bin:$PATH" ;; esac
  fi

  # Display: our own Xvfb on a free number. Sessions started at the same moment
  # may pick the same number; the X lock file names the server that won, so the
  # loser tries the next number instead of using the other session's display.
  local n=90 i tries
  for tries in $(seq 1 20); do
    while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 </dev/null &
    WINE_SESSION_XVFB_PID=$!
    for i in $(seq 1 100); do
      kill -0 "$WINE_SESSION_XVFB_PID" 2>/dev/null || break
      [ -e "/tmp/.X11-unix/X$n" ] && [ "$(tr -d ' \n' <"/tmp/.X$n-lock" 2>/dev/null)" = "$WINE_SESSION_XVFB_PID" ] && break
      sleep 0.1
    done
    if kill -0 "$WINE_SESSION_XVFB_PID" 2>/dev/null && [ -e "/tmp/.X11-unix/X$n" ]; then
      break
    fi
    kill "$WINE_SESSION_XVFB_PID" 2>/dev/null
    wait "$WINE_SESSION_XVFB_PID" 2>/dev/null
    unset WINE_SESSION_XVFB_PID
    n=$((n + 1))
  done
  if [ -z "${WINE_SESSION_XVFB_PID:-}" ]; then
    echo "wine_session_start: no Xvfb display could be started" >&2
    return 1
  fi
  export DISPLAY=":$n"

  # The wineserver detached, so that a captured stdout is not held open by it.
  (setsid wineserver -p60 </dev/null >/dev/null 2>&1 &)
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wine wineboot -i </dev/null >/dev/null 2>&1 || true
    # A virtual desktop gives windows title bars without a window manager.
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f /reg:64 >/dev/null 2>&1 || true
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f /reg:64 >/dev/null 2>&1 || true
    wineserver -w
    (setsid wineserver -p60 </dev/null >/dev/null 2>&1 &)
  fi
  wine_session_warm_up
}

# Starts Wine's background services (services.exe, explorer.exe for the virtual
# desktop, ...) with no stdout of ours. They inherit the standard handles of the
# Wine program that happens to start them; started by a test under ctest, they
# would hold its captured output open and ctest would wait for them for minutes.
wine_session_warm_up() {
  timeout 60 wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
}

wine_session_stop() {
  if [ -n "${WINEPREFIX:-}" ]; then
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
  fi
  if [ -n "${WINE_SESSION_XVFB_PID:-}" ]; then
    kill "$WINE_SESSION_XVFB_PID" 2>/dev/null || true
    wait "$WINE_SESSION_XVFB_PID" 2>/dev/null || true
    unset WINE_SESSION_XVFB_PID
  fi
}
