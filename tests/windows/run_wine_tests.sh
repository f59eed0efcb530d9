#!/usr/bin/env bash
# Drives the real lumidra.exe under Wine and Xvfb as a user would: the window, the status line,
# the button, the log box, the close message, HTTP from the Linux side with curl, and what is
# left in Wine's temporary folder afterwards. Ends with "N passed, N failed".
#
#   tests/windows/run_wine_tests.sh <Windows build folder>   (./run windows-test calls it)
#
# The build folder holds lumidra.exe, disc/ (the sample disc with lumidra.exe and BIN\7za.exe)
# and tests/windows/ (the probe, the fake child, the Win32 unit tests). Work files, the Wine
# prefix and the screenshots go to <build>/wine-test/.
set -uo pipefail

BUILD=$(cd "${1:?usage: run_wine_tests.sh <Windows build folder>}" && pwd)
HERE=$(cd "$(dirname "$0")" && pwd)
WORK="$BUILD/wine-test"
DISC="$BUILD/disc"
PROBE="$BUILD/tests/windows/lumidra_probe.exe"
SHOTS="$WORK/screenshots"
. "$HERE/wine_session.sh"

PASSED=0
FAILED=0
LAUNCHER_PID=""
PORT_HOLDER_PID=""

check() {  # <description> <command...>: one check, counted
    local what=$1; shift
    if "$@"; then
        PASSED=$((PASSED + 1)); echo "  ok   $what"
    else
        FAILED=$((FAILED + 1)); echo "  FAIL $what"
    fi
}

# Through a file, not a pipe: a Wine process started on the way could hold a pipe open.
probe() {
    local status
    timeout 60 "$WINE" "$PROBE" "$@" </dev/null >"$WORK/probe.out" 2>/dev/null
    status=$?
    tr -d '\r' <"$WORK/probe.out"
    return $status
}

# Messages of the log box's text, in order, without timestamps and level tags.
logMessages() { sed -E 's/^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} (INFO|WARN|ERROR): //' "$1"; }

# True when every line given begins a message of the file, in the given order.
inOrder() {
    local file=$1; shift
    WANTED="$(printf '%s\n' "$@")" awk '
        BEGIN { n = split(ENVIRON["WANTED"], w, "\n"); i = 1 }
        i <= n && index($0, w[i]) == 1 { i++ }
        END { if (i <= n) { print "    missing or out of order: " w[i] > "/dev/stderr"; exit 1 } }' "$file"
}

equals() { [ "$1" = "$2" ] || { echo "    expected [$2], got [$1]" >&2; return 1; }; }

tempFolder() { find "$WINEPREFIX/drive_c/users" -maxdepth 4 -type d -name Temp 2>/dev/null | head -n 1; }

startLauncher() {  # <disc folder> [environment assignments...]
    local disc=$1; shift
    rm -f "$WINE_WORK/browser-urls.txt"
    (cd "$disc" && exec env "$@" "$WINE" lumidra.exe) >"$WORK/launcher.out" 2>&1 &
    LAUNCHER_PID=$!
    probe wait-window 60000 >/dev/null
}

# Waits at most <seconds> for the launcher to end; sets LAUNCHER_EXIT (or "running").
waitLauncherExit() {
    local i
    LAUNCHER_EXIT=running
    for i in $(seq 1 $(($1 * 10))); do
        if ! kill -0 "$LAUNCHER_PID" 2>/dev/null; then
            wait "$LAUNCHER_PID"; LAUNCHER_EXIT=$?; LAUNCHER_PID=""; return 0
        fi
        sleep 0.1
    done
    return 1
}

stopLeftovers() {
    if [ -n "$LAUNCHER_PID" ]; then kill "$LAUNCHER_PID" 2>/dev/null; wait "$LAUNCHER_PID" 2>/dev/null; LAUNCHER_PID=""; fi
    if [ -n "$PORT_HOLDER_PID" ]; then kill "$PORT_HOLDER_PID" 2>/dev/null; wait "$PORT_HOLDER_PID" 2>/dev/null; PORT_HOLDER_PID=""; fi
}

cleanup() { stopLeftovers; wineSessionStop; }

# The launch id, the port and the workspace of the run, from the address the browser got.
readRun() {
    # The shell hands the address to the browser on its own time.
    waitFor 30 test -s "$WINE_WORK/browser-urls.txt"
    URL=$(head -n 1 "$WINE_WORK/browser-urls.txt" 2>/dev/null)
    PORT=$(sed -nE 's#^http://localhost:([0-9]+)/.*#\1#p' <<<"$URL")
    ID=$(sed -nE 's#.*uniqueId=(LUMIDRA_[0-9a-f]+)$#\1#p' <<<"$URL")
    WORKSPACE="$(tempFolder)/$ID"
}

waitFor() {  # <seconds> <command...>
    local limit=$1 i; shift
    for i in $(seq 1 $((limit * 5))); do "$@" && return 0; sleep 0.2; done
    return 1
}

aboutByAlt() { probe alt-char "$1" 10000 | grep -q 'LumidraLauncher, Version 1.3.2.0'; }

hookAnswers() { [ "$(curl -s -m 5 "http://127.0.0.1:$PORT/cmd/uniqueId")" = "$ID" ]; }

# --------------------------------------------------------------------------------------------

for needed in "$BUILD/lumidra.exe" "$DISC/lumidra.exe" "$DISC/BIN/7za.exe" "$PROBE"; do
    [ -f "$needed" ] || { echo "missing $needed: run ./run windows first" >&2; exit 1; }
done
command -v Xvfb >/dev/null || { echo "Xvfb is not installed" >&2; exit 1; }
mkdir -p "$WORK" "$SHOTS"
wineSessionStart "$WORK" || exit 1
trap cleanup EXIT

echo "Resources of lumidra.exe"
x86_64-w64-mingw32-windres -i "$BUILD/lumidra.exe" -O rc >"$WORK/resources.rc" 2>/dev/null
hasResource() { grep -qF -- "$1" "$WORK/resources.rc" || { echo "    not found: $1" >&2; return 1; }; }
check "string 109 names the window class" hasResource '109, "LUMIDRALAUNCHER"'
iconGroup() {
    grep -A4 '^107 14' "$WORK/resources.rc" >"$WORK/icon-group.rc"
    grep -qF 'Has 1 elements' "$WORK/icon-group.rc" && grep -qF '"\050\050\000\000", 1, 32,' "$WORK/icon-group.rc"
}
check "icon group 107 holds one 40x40 32-bit image" iconGroup
check "menu 109" hasResource '109 MENU'
check "About dialog 103 with its size, style and caption" bash -c "grep -A2 '^103 DIALOGEX 0, 0, 170, 62' '$WORK/resources.rc' | tr '\n' ' ' | grep -qE 'STYLE 0x80c800c8 CAPTION \"About LumidraLauncher\"'"
check "version 1.3.2.0" hasResource 'FILEVERSION 1, 3, 2, 0'
check "file description" hasResource 'VALUE "FileDescription", "Morvantis Lumidra Launcher"'
check "product name" hasResource 'VALUE "ProductName", "LumidraLauncher"'
check "manifest runs as invoker" hasResource 'requestedExecutionLevel level=""asInvoker"" uiAccess=""false""'

echo "Win32 unit tests"
UNIT="$BUILD/tests/windows/lumidra_win32_tests.exe"
if [ -f "$UNIT" ]; then
    (cd "$BUILD/tests/windows" && timeout 300 "$WINE" "$UNIT" --gtest_brief=1) >"$WORK/unit.out" 2>&1
    UNIT_RESULT=$?
    tr -d '\r' <"$WORK/unit.out" | grep -E '^\[  (FAILED|PASSED) |Failure|Expected|Which is|actual' | sed 's/^/    /'
    check "Win32 unit tests pass" test "$UNIT_RESULT" -eq 0
else
    check "Win32 unit tests were built" false
fi

echo "A successful start with the disc's 7za.exe, port 8000 taken, 8001 taken on [::1] alone"
python3 -c '
import socket, time
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("0.0.0.0", 8000)); s.listen(1)
try:
    s6 = socket.socket(socket.AF_INET6); s6.bind(("::1", 8001)); s6.listen(1)
except OSError:
    pass
time.sleep(600)' 2>/dev/null &
PORT_HOLDER_PID=$!
check "port 8000 is taken before the start" waitFor 20 grep -qE "^ *[0-9]+: [0-9A-F]{8}:1F40 00000000:0000 0A" /proc/net/tcp
IPV6_HELD=0
waitFor 5 grep -qE "^ *[0-9]+: 0{24}01000000:1F41 0{32}:0000 0A" /proc/net/tcp6 2>/dev/null && IPV6_HELD=1
startLauncher "$DISC" LANG=C.UTF-8 LC_ALL=C.UTF-8
check "the main window appears" test -n "$(probe title)"
check "title is the English one" equals "$(probe title)" "DICOM Lumidra"
STYLE=$(probe style)
check "no close box: caption without system menu ($STYLE)" test $((16#${STYLE:-0} & 0x00C80000)) -eq $((0x00C00000))
# Sampled until there is an outcome: the button first, so a status still short of an outcome
# read afterwards means the button was read while the start was still under way.
# The status texts seen meanwhile must come in the order of the stages.
statusRank() {
    case "$1" in
        "Starting Lumidra...") echo 0 ;;
        "Copying browser"*) echo 1 ;;
        "Copying data"*) echo 2 ;;
        "DICOM Lumidra started") echo 3 ;;
        *) echo 9 ;;
    esac
}
SAMPLES=0; EARLY_ENABLED=0; RANK=0; OUT_OF_ORDER=""
for i in $(seq 1 100); do
    BUTTON_NOW=$(probe button); STATUS_NOW=$(probe status)
    NEW_RANK=$(statusRank "$STATUS_NOW")
    [ "$NEW_RANK" -ge "$RANK" ] && [ "$NEW_RANK" -ne 9 ] || OUT_OF_ORDER="$OUT_OF_ORDER [$STATUS_NOW]"
    RANK=$NEW_RANK
    case "$STATUS_NOW" in "DICOM Lumidra started"|"DICOM Lumidra failed to start") break ;; esac
    SAMPLES=$((SAMPLES + 1)); LAST_STARTING=$STATUS_NOW
    [ "$BUTTON_NOW" = disabled ] || EARLY_ENABLED=$((EARLY_ENABLED + 1))
done
check "status texts in the order of the stages${OUT_OF_ORDER:+, not$OUT_OF_ORDER}" test -z "$OUT_OF_ORDER"
if [ "$SAMPLES" -gt 0 ]; then
    check "button disabled while starting ($SAMPLES samples, the last at \"$LAST_STARTING\")" test "$EARLY_ENABLED" -eq 0
else
    echo "  --   the start was over before the button could be sampled"
fi
check "status reaches \"DICOM Lumidra started\"" probe wait-status "DICOM Lumidra started" 180000
check "terminate button enabled" equals "$(probe button)" enabled
readRun
check "browser opened at the viewer ($URL)" test -n "$ID" -a -n "$PORT"
check "port 8000 was taken, another chosen" test "${PORT:-8000}" != 8000
if [ "$IPV6_HELD" = 1 ]; then
    check "port 8001, held on [::1] by another program, was skipped too" test "${PORT:-8001}" != 8001
fi
check "workspace $ID exists in Wine's temporary folder" test -n "$ID" -a -d "$WORKSPACE"
check "viewer unpacked into the workspace" test -f "$WORKSPACE/DATA/7z/index.html"
check "viewer config names the chosen port" grep -q "localhost:$PORT" "$WORKSPACE/DATA/7z/data/config/config-lumidra.json"
check "viewer config no longer names 8000" bash -c "! grep -q 'localhost:8000' '$WORKSPACE/DATA/7z/data/config/config-lumidra.json'"
curl -s -m 10 -o "$WORK/index.html" "http://127.0.0.1:$PORT/7z/index.html?uniqueId=$ID"
check "the viewer page is served" cmp -s "$WORK/index.html" "$WORKSPACE/DATA/7z/index.html"
check "the hook answers the launch id after the deferred copy" waitFor 120 hookAnswers
check "copy_status.txt says 1" equals "$(cat "$WORKSPACE/DATA/copy_status.txt" 2>/dev/null)" 1
check "a study file was copied into the workspace" bash -c "find '$WORKSPACE/DATA/DICOM' -type f | grep -q ."
probe log 20000 >"$WORK/log-success.txt"
logMessages "$WORK/log-success.txt" >"$WORK/log-success-messages.txt"
check "every log line has a timestamp and a level" bash -c "grep -vE '^\$' '$WORK/log-success.txt' | grep -E '^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} (INFO|WARN|ERROR): ' -c | grep -qv '^0\$'"
check "no ERROR line in a good run" bash -c "! grep -q ' ERROR: ' '$WORK/log-success.txt'"
check "log lines in order" inOrder "$WORK/log-success-messages.txt" \
    "Starting Lumidra" "System language: 9" "Lumiserv socket init result: 1" "Window class registered" \
    "Initializing main program winow..." "Main program window initialized" "Starting initialization..." \
    "Checking free port number: 8000" "Found free port number: $PORT" "Creating TEMP dir..." "Tmp dir: " \
    "Absolute tmp dir: " "TEMP dir created: " "Copying files..." "Unzipping viewer..." \
    'BIN\7za.exe x -bsp2 -y -o"' "Browser unzip attempt 1" "Unzipping data..." "Data unzip attempt 1" \
    "Fixing config port number" "Starting lumiserv..." "Lumiserv started" "Opening browser" \
    "Copying remaining files..." "Copying of remaining files finished."
probe about 20000 1500 >"$WORK/about.txt" &
ABOUT_PROBE=$!
sleep 1
import -display "$DISPLAY" -window root "$SHOTS/about.png" 2>/dev/null
wait "$ABOUT_PROBE"
check "About dialog shows the version" grep -q "LumidraLauncher, Version 1.3.2.0" "$WORK/about.txt"
check "About dialog has its OK button" grep -q "^Button: OK" "$WORK/about.txt"
check "ALT with \"?\" opens the About dialog" aboutByAlt '?'
check "ALT with \"/\" opens the About dialog" aboutByAlt '/'
check "ALT with another character does not" bash -c "! timeout 60 '$WINE' '$PROBE' alt-char x 3000 </dev/null >/dev/null 2>&1"
import -display "$DISPLAY" -window root "$SHOTS/window.png" 2>/dev/null
check "popup menu opens on a right-click in the window" probe popup 10 70 10000
sleep 0.5
import -display "$DISPLAY" -window root "$SHOTS/popup-menu.png" 2>/dev/null
probe popup-close >/dev/null
LISTEN_HEX=$(printf '%04X' "${PORT:-0}")
check "the server listens on the loopback address only" grep -qE "^ *[0-9]+: 0100007F:$LISTEN_HEX 00000000:0000 0A" /proc/net/tcp
for attempt in '/..%5cdata.zip' '/7z/..%5c..%5cdata.zip' '/%2e%2e%5cdata.zip' '/..\data.zip' '/7z/../../data.zip'; do
    CODE=$(curl -s -m 10 --path-as-is -o "$WORK/traversal.out" -w '%{http_code}' "http://127.0.0.1:$PORT$attempt")
    check "no file above the roots through $attempt (HTTP $CODE)" bash -c "[[ '$CODE' == 4?? ]] && ! cmp -s '$WORK/traversal.out' '$DISC/data.zip'"
done
# "localhost" leads the browser to [::1] first: the launcher answers there too, unless Wine gives
# it no IPv6, which its log then says.
if grep -qE "^ *[0-9]+: 0{24}01000000:$LISTEN_HEX 0{32}:0000 0A" /proc/net/tcp6 2>/dev/null; then
    check "the server listens on [::1] as well" true
    check "the viewer page is served on [::1]" equals "$(curl -s -m 10 -g "http://[::1]:$PORT/copy_status.txt")" 1
else
    check "no IPv6 under Wine: the log says so" grep -q " WARN: Lumiserv listens on 127.0.0.1 only" "$WORK/log-success.txt"
fi
curl -s -m 10 -D "$WORK/index-headers.txt" -o /dev/null "http://127.0.0.1:$PORT/7z/index.html?uniqueId=$ID"
check "answers forbid framing" grep -q "^X-Frame-Options: DENY" "$WORK/index-headers.txt"
check "answers forbid foreign reads" grep -q "^Cross-Origin-Resource-Policy: same-origin" "$WORK/index-headers.txt"
for foreign in "Origin: http://evil.example" "Sec-Fetch-Site: cross-site"; do
    CODE=$(curl -s -m 10 -o /dev/null -w '%{http_code}' -X POST -H "$foreign" "http://127.0.0.1:$PORT/cmd/exit?uniqueId=$ID")
    check "an exit request with \"$foreign\" is refused (HTTP $CODE)" equals "$CODE" 403
done
sleep 1.5
check "the launcher keeps running after the refused requests" kill -0 "$LAUNCHER_PID"
EXIT_REPLY=$(curl -s -m 10 -X POST -H "Origin: http://localhost:$PORT" "http://127.0.0.1:$PORT/cmd/exit?uniqueId=$ID")
check "POST exit with the right id is answered OK" equals "$EXIT_REPLY" OK
check "the launcher ends after the exit request" waitLauncherExit 30
check "exit code 0" equals "${LAUNCHER_EXIT:-}" 0
check "the workspace is gone" test ! -e "$WORKSPACE"
stopLeftovers

echo "The close message from another program, in Czech"
startLauncher "$DISC" LANG=cs_CZ.UTF-8 LC_ALL=cs_CZ.UTF-8
check "Czech title" equals "$(probe title)" "DICOM prohlížeč z CD"
check "status reaches \"DICOM Lumidra spuštěn\"" probe wait-status "DICOM Lumidra spuštěn" 180000
readRun
check "workspace $ID exists" test -n "$ID" -a -d "$WORKSPACE"
probe close-message >/dev/null
check "the launcher ends after the close message" waitLauncherExit 30
check "exit code 0" equals "${LAUNCHER_EXIT:-}" 0
check "the workspace is gone" test ! -e "$WORKSPACE"
stopLeftovers

# Starts the launcher, lets it start, then ends it from outside with one probe command; the
# terminate sequence must run: exit code 0 and no workspace left with the study in it.
checkEndedFromOutside() {  # <title> <probe command> <what ends it>
    echo "$1"
    startLauncher "$DISC" LANG=C.UTF-8 LC_ALL=C.UTF-8
    check "status reaches \"DICOM Lumidra started\"" probe wait-status "DICOM Lumidra started" 180000
    readRun
    check "workspace $ID exists" test -n "$ID" -a -d "$WORKSPACE"
    probe "$2" >/dev/null
    check "the launcher ends $3" waitLauncherExit 30
    check "exit code 0" equals "${LAUNCHER_EXIT:-}" 0
    check "the workspace is gone, not left with the study in it" test ! -e "$WORKSPACE"
    stopLeftovers
}

checkEndedFromOutside "WM_CLOSE (the task bar's close) goes through the terminate sequence" wm-close "after WM_CLOSE"
checkEndedFromOutside "The end of the Windows session goes through the terminate sequence" end-session "with the session"

echo "A killed launcher's workspace is removed by the next start; one whose owner cannot be told stays"
startLauncher "$DISC" LANG=C.UTF-8 LC_ALL=C.UTF-8
check "status reaches \"DICOM Lumidra started\"" probe wait-status "DICOM Lumidra started" 180000
readRun
KILLED_WORKSPACE=$WORKSPACE
check "the deferred copy ends" waitFor 120 hookAnswers
kill -KILL "$LAUNCHER_PID" 2>/dev/null; wait "$LAUNCHER_PID" 2>/dev/null; LAUNCHER_PID=""
check "the killed launcher's window is gone" waitFor 30 bash -c "! timeout 60 '$WINE' '$PROBE' title </dev/null >/dev/null 2>&1"
check "its workspace $ID is left with the study in it" bash -c "find '$KILLED_WORKSPACE/DATA/DICOM' -type f | grep -q ."
# An older launcher's workspace has no lock file.
UNTOLD="$(tempFolder)/LUMIDRA_01d"
mkdir -p "$UNTOLD/DATA" && printf 1 >"$UNTOLD/DATA/copy_status.txt"
# Another account's folder, made like a workspace whose launcher has gone (Wine shows a file of
# another Unix user as owned by another account). Only root can make one.
OTHERS="$(tempFolder)/LUMIDRA_0a11e5"
if [ "$(id -u)" -eq 0 ]; then
    mkdir -p "$OTHERS/DATA/DICOM" && printf 'their image' >"$OTHERS/DATA/DICOM/I1.dcm" && : >"$OTHERS/lumidra.lock"
    chmod -R go-rwx "$OTHERS" && chown -R 65534:65534 "$OTHERS"
fi
startLauncher "$DISC" LANG=C.UTF-8 LC_ALL=C.UTF-8
check "the next start reaches \"DICOM Lumidra started\"" probe wait-status "DICOM Lumidra started" 180000
check "the killed launcher's workspace is gone" test ! -e "$KILLED_WORKSPACE"
check "the workspace without an owner to tell is left" test -f "$UNTOLD/DATA/copy_status.txt"
if [ "$(id -u)" -eq 0 ]; then
    check "a folder another account made is not swept" test -f "$OTHERS/DATA/DICOM/I1.dcm" -a -f "$OTHERS/lumidra.lock"
else
    echo "  --   not root: no folder of another account to plant"
fi
probe log 20000 >"$WORK/log-stale.txt"
check "the log counts the removed workspaces" grep -qE " INFO: Stale workspaces removed: [1-9]" "$WORK/log-stale.txt"
check "the log names the one left" grep -q " WARN: Workspace left in place, its launcher cannot be told: .*LUMIDRA_01d" "$WORK/log-stale.txt"
readRun
probe close-message >/dev/null
check "the launcher ends after the close message" waitLauncherExit 30
check "its own workspace is gone" test ! -e "$WORKSPACE"
rm -rf "$UNTOLD" "$OTHERS"
stopLeftovers

echo "A temporary folder named in Cyrillic, which the ANSI code page (1252) cannot hold"
environmentValue() {
    "$WINE" reg query 'HKCU\Environment' /v "$1" </dev/null 2>/dev/null | tr -d '\r' | sed -nE "s/^ +$1 +REG_(EXPAND_)?SZ +//p"
}
setEnvironmentValue() { "$WINE" reg add 'HKCU\Environment' /v "$1" /d "$2" /f </dev/null >/dev/null 2>&1; }
SAVED_TEMP=$(environmentValue TEMP)
SAVED_TMP=$(environmentValue TMP)
CYRILLIC="$(tempFolder)/Временные"
mkdir -p "$CYRILLIC"
setEnvironmentValue TEMP "$(winePath "$CYRILLIC")"
setEnvironmentValue TMP "$(winePath "$CYRILLIC")"
startLauncher "$DISC" LANG=C.UTF-8 LC_ALL=C.UTF-8
check "status reaches \"DICOM Lumidra started\"" probe wait-status "DICOM Lumidra started" 180000
readRun
WORKSPACE="$CYRILLIC/$ID"
check "workspace $ID is in the Cyrillic folder" test -n "$ID" -a -f "$WORKSPACE/DATA/7z/index.html"
curl -s -m 10 -o "$WORK/index-cyrillic.html" "http://127.0.0.1:$PORT/7z/index.html?uniqueId=$ID"
check "the viewer page is served from it" cmp -s "$WORK/index-cyrillic.html" "$WORKSPACE/DATA/7z/index.html"
curl -s -m 10 -o "$WORK/config-cyrillic.json" "http://127.0.0.1:$PORT/7z/data/config/config-lumidra.json"
check "the viewer config is served with the chosen port" grep -q "localhost:$PORT" "$WORK/config-cyrillic.json"
probe log 20000 >"$WORK/log-cyrillic.txt"
check "the log says the folder is served by its short name" grep -q " INFO: Lumiserv serves a folder by its short name: " "$WORK/log-cyrillic.txt"
probe close-message >/dev/null
check "the launcher ends after the close message" waitLauncherExit 30
check "the workspace is gone" test ! -e "$WORKSPACE"
for name in TEMP TMP; do
    saved=SAVED_$name
    if [ -n "${!saved}" ]; then setEnvironmentValue "$name" "${!saved}"; else "$WINE" reg delete 'HKCU\Environment' /v "$name" /f </dev/null >/dev/null 2>&1; fi
done
rm -rf "$CYRILLIC"
stopLeftovers

echo "A corrupt viewer archive: three attempts, a failed start, terminate still works"
# A folder name outside Latin-1 once converted (the euro sign is byte 0x80 in code page 1252):
# the log's narrow lines carry that byte, and saving the log must still work.
CORRUPT="$WORK/disc-€"
rm -rf "$CORRUPT"
cp -r "$DISC" "$CORRUPT"
printf 'this is not a 7z archive\n' >"$CORRUPT/DATA/7z/viewer.7z"
BEFORE=$(ls "$(tempFolder)" | grep -c '^LUMIDRA_' || true)
startLauncher "$CORRUPT" LANG=C.UTF-8 LC_ALL=C.UTF-8
check "status reaches \"DICOM Lumidra failed to start\"" probe wait-status "DICOM Lumidra failed to start" 180000
check "terminate button enabled after the failure" equals "$(probe button)" enabled
probe log 20000 >"$WORK/log-failure.txt"
logMessages "$WORK/log-failure.txt" >"$WORK/log-failure-messages.txt"
check "three attempts, then the failed start" inOrder "$WORK/log-failure-messages.txt" \
    "Unzipping viewer..." "Browser unzip attempt 1" "Last system error message: " \
    "Browser unzip attempt 2" "Browser unzip attempt 3" "Cannot copy necessary files to TEMP dir." "Lumidra start failed!"
check "no fourth attempt" bash -c "! grep -q 'Browser unzip attempt 4' '$WORK/log-failure-messages.txt'"
check "the server was not started" bash -c "! grep -q 'Starting lumiserv' '$WORK/log-failure-messages.txt'"
SAVED="$WORK/saved-log.log"
rm -f "$SAVED"
probe save-log "$(winePath "$SAVED")" 20000 >/dev/null
check "the log is saved through the save dialog" test -s "$SAVED"
check "the saved log's lines end with CR LF" bash -c "[ -s '$SAVED' ] && [ \$(grep -c \$'\r\$' '$SAVED') -eq \$(wc -l <'$SAVED') ]"
check "the saved log is the log of the box" test -s "$SAVED" -a -s "$WORK/log-failure.txt"
check "  ... its first lines match" equals "$(tr -d '\r' <"$SAVED" | head -n 3)" "$(head -n 3 "$WORK/log-failure.txt")"
check "the saved log keeps the code page's own bytes" grep -q $'disc-\x80' "$SAVED"
check "saving wrote no error line" bash -c "[ -s '$SAVED' ] && ! grep -q 'Cannot open log file output stream\|Error while saving log file' '$SAVED'"
probe command 105 >/dev/null
check "the terminate button's command ends the launcher" waitLauncherExit 30
check "exit code 0" equals "${LAUNCHER_EXIT:-}" 0
check "the failed run's workspace is gone too" equals "$(ls "$(tempFolder)" | grep -c '^LUMIDRA_' || true)" "$BEFORE"
stopLeftovers

echo "A disc made by the disc builder from an export, started from its ISO image's tree"
# The sample study's images under other names in nested folders, with a stray file, through
# tools/make_disc.py; the Linux launcher on that disc is a stand-in, as this suite runs Windows.
BUILDER_WORK="$WORK/disc-builder"
rm -rf "$BUILDER_WORK"
mkdir -p "$BUILDER_WORK/export/Study of the sample/Images"
COPIED=0
while read -r image; do
    COPIED=$((COPIED + 1))
    cp "$image" "$BUILDER_WORK/export/Study of the sample/Images/image $(printf %04d "$COPIED").dcm"
done < <(find "$DISC/DATA/DICOM" -type f -name 'IM*' | sort)
printf 'exported for the patient\n' >"$BUILDER_WORK/export/notes.txt"
printf 'stand-in\n' >"$BUILDER_WORK/stand-in-lumidra"
python3 "$HERE/../../tools/make_disc.py" "$BUILDER_WORK/export" "$BUILDER_WORK/disc" --quiet \
    --iso "$BUILDER_WORK/disc.iso" --windows-launcher "$BUILD/lumidra.exe" --windows-7za "$DISC/BIN/7za.exe" \
    --linux-launcher "$BUILDER_WORK/stand-in-lumidra" >"$BUILDER_WORK/summary.txt" 2>&1
check "the disc builder made the disc and its ISO image" test -s "$BUILDER_WORK/disc.iso"
check "  ... and named the stray file it left out" grep -q "notes.txt: not DICOM" "$BUILDER_WORK/summary.txt"
xorriso -osirrox on -indev "$BUILDER_WORK/disc.iso" -extract / "$BUILDER_WORK/tree" >/dev/null 2>&1
chmod -R a-w "$BUILDER_WORK/tree"
FIRST_IMAGE=DICOM/PA000001/ST000001/SE000001/IM000001
LAST_SERIES_IMAGE=$(cd "$BUILDER_WORK/tree/DATA" && find DICOM -type f | sort | tail -n 1)
startLauncher "$BUILDER_WORK/tree" LANG=C.UTF-8 LC_ALL=C.UTF-8
check "status reaches \"DICOM Lumidra started\"" probe wait-status "DICOM Lumidra started" 180000
readRun
check "browser opened at the viewer ($URL)" test -n "$ID" -a -n "$PORT"
curl -s -m 10 -o "$BUILDER_WORK/first.dcm" "http://127.0.0.1:$PORT/$FIRST_IMAGE"
check "the first image is served as the disc holds it" cmp -s "$BUILDER_WORK/first.dcm" "$BUILDER_WORK/tree/DATA/$FIRST_IMAGE"
check "the deferred copy finishes" waitFor 120 hookAnswers
curl -s -m 10 -o "$BUILDER_WORK/last.dcm" "http://127.0.0.1:$PORT/$LAST_SERIES_IMAGE"
check "an image of the last series is served ($LAST_SERIES_IMAGE)" cmp -s "$BUILDER_WORK/last.dcm" "$BUILDER_WORK/tree/DATA/$LAST_SERIES_IMAGE"
probe log 20000 >"$WORK/log-builder-disc.txt"
check "the disc's own 7za.exe unpacked the viewer" grep -qF 'BIN\7za.exe x -bsp2' "$WORK/log-builder-disc.txt"
EXIT_REPLY=$(curl -s -m 10 -X POST "http://127.0.0.1:$PORT/cmd/exit?uniqueId=$ID")
check "POST exit is answered OK" equals "$EXIT_REPLY" OK
check "the launcher ends" waitLauncherExit 30
check "exit code 0" equals "${LAUNCHER_EXIT:-}" 0
check "the workspace is gone" test ! -e "$WORKSPACE"
stopLeftovers
chmod -R u+w "$BUILDER_WORK"

echo "Screenshots for review: $SHOTS"
echo "$PASSED passed, $FAILED failed"
[ "$FAILED" -eq 0 ]
