# Sourced by the Wine test drivers: a private Wine prefix and an Xvfb display for one session,
# and the clean-up that ends both on every path. Everything lives under $WINE_WORK.
#
#   wineSessionStart <work folder>   prefix <work>/prefix (created once), Xvfb on a free display
#   wineSessionStop                  ends what wineSessionStart started (set as an EXIT trap)
#   winePath <unix path>             the Windows form of a path

WINE_XVFB_PID=""

wineSessionStart() {
    WINE_WORK=$1
    mkdir -p "$WINE_WORK"
    export WINEPREFIX="$WINE_WORK/prefix"
    export WINEDEBUG=-all
    # No Mono or Gecko install prompts, no desktop menu entries.
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    WINE=$(command -v wine || command -v wine64 || true)
    [ -n "$WINE" ] || { echo "wine is not installed" >&2; return 1; }
    trap wineSessionStop EXIT

    local display
    for display in $(seq 91 140); do
        [ -e "/tmp/.X${display}-lock" ] || [ -e "/tmp/.X11-unix/X${display}" ] || break
    done
    Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >"$WINE_WORK/xvfb.log" 2>&1 &
    WINE_XVFB_PID=$!
    export DISPLAY=":$display"
    local i
    for i in $(seq 1 100); do
        [ -e "/tmp/.X11-unix/X${display}" ] && break
        kill -0 "$WINE_XVFB_PID" 2>/dev/null || { echo "Xvfb did not start" >&2; return 1; }
        sleep 0.1
    done

    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "Creating the Wine prefix in $WINEPREFIX"
        timeout 300 "$WINE" wineboot -i >"$WINE_WORK/wineboot.log" 2>&1 || { echo "wineboot failed" >&2; return 1; }
    fi
    # One desktop window of Wine's own draws the frames and captions a window manager would.
    timeout 60 "$WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
    timeout 60 "$WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
    # The "default browser" only writes down the addresses it is asked to open.
    cat >"$WINE_WORK/browser.sh" <<SCRIPT
#!/bin/sh
printf '%s\n' "\$@" >>"$WINE_WORK/browser-urls.txt"
SCRIPT
    chmod +x "$WINE_WORK/browser.sh"
    timeout 60 "$WINE" reg add 'HKCU\Software\Wine\WineBrowser' /v Browsers /d "$WINE_WORK/browser.sh" /f >/dev/null 2>&1
    # The desktop settings apply to a fresh Wine session.
    timeout 30 wineserver -k >/dev/null 2>&1 || true
    timeout 30 wineserver -w >/dev/null 2>&1 || true
    # Start the server and Wine's services now, away from any pipe: whatever starts them passes
    # on its standard output, and a pipe held open by them would never end.
    wineserver -p </dev/null >/dev/null 2>&1
    timeout 120 "$WINE" wineboot </dev/null >/dev/null 2>&1 || true
}

wineSessionStop() {
    if [ -n "${WINEPREFIX:-}" ] && command -v wineserver >/dev/null; then
        timeout 30 wineserver -k >/dev/null 2>&1 || true
    fi
    if [ -n "$WINE_XVFB_PID" ]; then
        kill "$WINE_XVFB_PID" 2>/dev/null || true
        wait "$WINE_XVFB_PID" 2>/dev/null || true
        WINE_XVFB_PID=""
    fi
}

winePath() { "$WINE" winepath -w "$1" </dev/null 2>/dev/null | tr -d '\r'; }
