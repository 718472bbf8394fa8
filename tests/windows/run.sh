#!/usr/bin/env bash
# Builds Kestova.ocx for 32-bit and 64-bit Windows and tests it under Wine, headless:
# registration (machine-wide, per user, both bitnesses side by side), the type library, the
# control through IDispatch against the virtual PLC, a VBScript example through Wine's
# cscript, the control embedded in a minimal OLE container under Xvfb, and the
# command-line tool kestova.exe, built beside Kestova.ocx, against the same virtual PLC.
#
#   tests/windows/run.sh            from anywhere; work folder build/windows
#
# Environment: KESTOVA_PLCSIM  a built kestova-plcsim to use instead of building one
#              KESTOVA_WINDOWS_WORK  the work folder (default <repo>/build/windows)
#              KESTOVA_SKIP_32BIT=1  take the path of a machine that cannot run 32-bit programs
#
# On a machine whose kernel cannot run 32-bit programs (x86-64 without IA-32 emulation), both
# builds are still made, every 64-bit check runs with the 64-bit Wine loader, and the 32-bit
# checks are counted as skipped. Debian's `wine` starts the 32-bit loader first, so on that
# path every Wine program, wineboot and winepath included, goes through $WINE instead.
#
# Every step runs under `timeout` and must print its own success line. The Wine server is
# stopped before the virtual PLCs, so no Wine process is left holding a pseudo-terminal.
# The bash -c snippets below take their values as arguments, in single quotes on purpose.
# shellcheck disable=SC2016
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
WORK=${KESTOVA_WINDOWS_WORK:-$ROOT/build/windows}
DATA_PORT=5     # COM5: the virtual PLC
SILENT_PORT=6   # COM6: a virtual PLC that never answers (time-out tests)

# The two header-only libraries are the command-line tool's, taken from the build machine.
PACKAGES=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools libwine-dev
          libcli11-dev nlohmann-json3-dev wine wine64 wine32:i386 xvfb xauth)

passed=0
failed=0
skipped=0
no_32bit=""          # set when this machine cannot run 32-bit programs
skipping=""          # set while the checks of a build that cannot run here are counted
WINE=wine            # the loader every Wine program is started with

log() { printf '[windows] %s\n' "$*"; }

# ---- packages -------------------------------------------------------------------------

have_tools() {
  command -v i686-w64-mingw32-g++-posix >/dev/null &&
    command -v x86_64-w64-mingw32-g++-posix >/dev/null &&
    command -v i686-w64-mingw32-widl >/dev/null &&
    command -v x86_64-w64-mingw32-widl >/dev/null &&
    [ -x /usr/lib/wine/wine ] && [ -x /usr/lib/wine/wine64 ] &&
    [ -f /usr/include/wine/wine/windows/oaidl.idl ] &&
    [ -f /usr/include/CLI/CLI.hpp ] && [ -f /usr/include/nlohmann/json.hpp ] &&
    command -v xvfb-run >/dev/null && command -v xauth >/dev/null
}

# From the machine's configured sources, with the i386 architecture added for wine32.
# wine64 and wine32 go in one apt-get call: installing wine32 later can remove wine64.
ensure_packages() {
  if have_tools; then return 0; fi
  log "installing the cross compilers and Wine"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  bash "$ROOT/scripts/install-deps.sh" "${PACKAGES[@]}"
}

# ---- can this machine run 32-bit programs? -----------------------------------------------

# Sets no_32bit and WINE. Only a kernel that cannot run 32-bit programs skips: executing
# the 32-bit Wine loader then fails with status 126 (exec format error). A 32-bit Wine that
# is merely broken fails the 32-bit checks instead.
check_32bit_support() {
  local status=0
  if [ "${KESTOVA_SKIP_32BIT:-}" = 1 ]; then
    log "KESTOVA_SKIP_32BIT=1: running as on a machine that cannot run 32-bit programs"
  else
    /usr/lib/wine/wine --version >/dev/null 2>&1 || status=$?
    if [ "$status" -ne 126 ]; then return 0; fi
    log "this machine cannot run 32-bit programs: the 32-bit checks will be skipped"
  fi
  no_32bit=1
  WINE=/usr/lib/wine/wine64
}

# ---- steps ----------------------------------------------------------------------------

# skip_check NAME: counts NAME as skipped, and is true, while the build under test cannot
# run here.
skip_check() {
  [ -n "$skipping" ] || return 1
  log "SKIP $1"
  skipped=$((skipped + 1))
}

# step NAME SUCCESS-LINE SECONDS COMMAND...: runs COMMAND, shows its output, and passes
# when it exits 0 and printed SUCCESS-LINE.
step() {
  local name=$1 success=$2 seconds=$3
  if skip_check "$name"; then return 0; fi
  shift 3
  local output status=0
  output=$(timeout "$seconds" "$@" 2>&1) || status=$?
  output=${output//$'\r'/}  # Wine's console writes CRLF
  printf '%s\n' "$output" | sed 's/^/    /'
  if [ "$status" -eq 0 ] && grep -qxF -- "$success" <<<"$output"; then
    log "PASS $name"
    passed=$((passed + 1))
  else
    log "FAIL $name (exit $status)"
    failed=$((failed + 1))
  fi
}

# ---- build ----------------------------------------------------------------------------

build_windows() {
  local preset
  for preset in win32 win64; do
    log "building the $preset control and test programs"
    timeout 600 cmake --preset "$preset" -S "$ROOT" >/dev/null
    timeout 900 cmake --build "$ROOT/build/$preset" -j2 \
      --target kestova_ocx kestova_cli com_client ole_container
  done
}

build_simulator() {
  if [ -n "${KESTOVA_PLCSIM:-}" ]; then
    PLCSIM=$KESTOVA_PLCSIM
    return
  fi
  log "building the virtual PLC"
  timeout 600 cmake -S "$ROOT" -B "$WORK/linux" -DCMAKE_BUILD_TYPE=Release \
    -DKESTOVA_BUILD_TESTS=OFF -DKESTOVA_BUILD_BENCH=OFF -DKESTOVA_BUILD_CLI=OFF >/dev/null
  timeout 600 cmake --build "$WORK/linux" -j2 --target kestova-plcsim
  PLCSIM=$WORK/linux/sim/kestova-plcsim
}

# ---- Wine and the virtual PLCs ----------------------------------------------------------

sim_pids=()

stop_everything() {
  # Wine first: it holds the pseudo-terminals' slave ends open.
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
    timeout 30 wineserver -k 2>/dev/null || true
    timeout 30 wineserver -w 2>/dev/null || true
  fi
  local pid
  for pid in "${sim_pids[@]}"; do
    kill -TERM "$pid" 2>/dev/null || true
  done
  for pid in "${sim_pids[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  sim_pids=()
}

# start_plc LINK [OPTIONS...]: serves a virtual PLC whose pseudo-terminal LINK points to;
# returns once the simulator has printed its slave path (it is then serving).
start_plc() {
  local link=$1
  shift
  local fd
  exec {fd}< <(exec "$PLCSIM" --link "$link" "$@")
  sim_pids+=($!)
  local slave=""
  if ! read -r -t 20 -u "$fd" slave || [ -z "$slave" ]; then
    log "the virtual PLC did not start"
    return 1
  fi
  log "virtual PLC on $slave ($link) $*"
}

make_prefix() {
  export WINEPREFIX=$WORK/prefix
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export WINEARCH=win64
  # Wine needs no display for these console programs.
  unset DISPLAY
  timeout 30 wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
  log "creating a fresh Wine prefix"
  timeout 300 "$WINE" wineboot -i >/dev/null 2>&1
  timeout 120 wineserver -w
  # COM ports go to the virtual PLCs through the registry; Wine remakes its device links
  # from this key when the server starts again. COM1 (the machine's real port) stays.
  local port
  for port in "$DATA_PORT" "$SILENT_PORT"; do
    timeout 60 "$WINE" reg add 'HKLM\Software\Wine\Ports' /v "COM$port" /d "$WORK/run/com$port" /f \
      >/dev/null
  done
  timeout 60 wineserver -k || true
  timeout 60 wineserver -w || true
}

windows_path() {
  if [ -z "$skipping" ]; then timeout 60 "$WINE" winepath -w "$1" 2>/dev/null; fi
}

# ---- the tests ------------------------------------------------------------------------

# kestova.exe needs no registration and is tested on Linux; here, what Windows adds: the
# port by number through the Win32 serial port.
test_cli() {
  local data=("$WINE" "$ROOT/build/$1/server/kestova.exe" --port "$DATA_PORT")
  step "$1 kestova.exe write" "result 0" 60 "${data[@]}" write D100 4660
  step "$1 kestova.exe read, JSON" '{"result":0,"device":"D100","values":[4660],"messages":[]}' 60 \
    "${data[@]}" --json read D100 1
}

test_one_build() {
  local preset=$1 loader=$2
  skipping=""
  if [ "$preset" = win32 ] && [ -n "$no_32bit" ]; then skipping=1; fi
  local bin=$ROOT/build/$preset
  local ocx client container example cscript='C:\windows\system32\cscript.exe'
  ocx=$(windows_path "$bin/server/Kestova.ocx")
  client=$bin/tests/windows/com_client.exe
  if [ "$preset" = win32 ]; then cscript='C:\windows\syswow64\cscript.exe'; fi
  container=$bin/tests/windows/ole_container.exe
  example=$(windows_path "$ROOT/tests/windows/plc_example.vbs")

  log "---- $preset${skipping:+ (skipped: this machine cannot run 32-bit programs)} ----"
  step "$preset register machine-wide" "KESTOVA REGISTERED OK" 120 \
    bash -c '"$1" regsvr32 /s "$2" && "$4" "$3" registered machine' _ "$loader" "$ocx" "$client" "$WINE"
  step "$preset type library" "KESTOVA TYPELIB OK" 120 "$WINE" "$client" typelib
  step "$preset unloading" "KESTOVA UNLOAD OK" 120 "$WINE" "$client" unload "$ocx"
  step "$preset control through IDispatch" "KESTOVA COM CLIENT OK" 180 \
    "$WINE" "$client" control "$DATA_PORT" "$SILENT_PORT"
  step "$preset VBScript example" "KESTOVA VBSCRIPT OK" 180 \
    "$WINE" "$cscript" //nologo "$example" "$DATA_PORT" "$SILENT_PORT"
  test_cli "$preset"
  # The container needs a display: a Wine server of its own inside the Xvfb session, stopped
  # before the session ends (nothing may start Wine between here and the session, or its
  # desktop would have no display).
  if [ -z "$skipping" ]; then
    timeout 60 wineserver -k 2>/dev/null || true
    timeout 60 wineserver -w 2>/dev/null || true
  fi
  step "$preset OLE container" "KESTOVA CONTAINER OK" 180 \
    xvfb-run -a -s "-screen 0 800x600x24" bash -c \
    '"$2" "$1"; status=$?; wineserver -k; wineserver -w; exit $status' \
    _ "$container" "$WINE"
  step "$preset unregister machine-wide" "KESTOVA UNREGISTERED OK" 120 \
    bash -c '"$1" regsvr32 /s /u "$2" && "$4" "$3" unregistered machine' _ "$loader" "$ocx" "$client" "$WINE"
  step "$preset register per user" "KESTOVA REGISTERED OK" 120 \
    bash -c '"$1" regsvr32 /s /n /i:user "$2" && "$4" "$3" registered user' _ "$loader" "$ocx" "$client" "$WINE"
  step "$preset unregister per user" "KESTOVA UNREGISTERED OK" 120 \
    bash -c '"$1" regsvr32 /s /u /n /i:user "$2" && "$4" "$3" unregistered user' _ "$loader" "$ocx" "$client" "$WINE"
}

# Both bitnesses registered side by side: unregistering one leaves the other creatable by
# ProgID with its type library, either way round; unregistering both leaves no key of ours.
test_side_by_side() {
  skipping=$no_32bit
  local ocx32 ocx64
  local client32=$ROOT/build/win32/tests/windows/com_client.exe
  local client64=$ROOT/build/win64/tests/windows/com_client.exe
  ocx32=$(windows_path "$ROOT/build/win32/server/Kestova.ocx")
  ocx64=$(windows_path "$ROOT/build/win64/server/Kestova.ocx")
  local wine32=/usr/lib/wine/wine wine64=/usr/lib/wine/wine64
  log "---- both bitnesses${skipping:+ (skipped: this machine cannot run 32-bit programs)} ----"
  step "unregistering the 32-bit control leaves the 64-bit one" "KESTOVA REGISTERED OK" 180 \
    bash -c '"$1" regsvr32 /s "$3" && "$2" regsvr32 /s "$4" && "$1" regsvr32 /s /u "$3" &&
             "$2" "$5" registered machine' _ "$wine32" "$wine64" "$ocx32" "$ocx64" "$client64"
  step "unregistering the 64-bit control leaves the 32-bit one" "KESTOVA REGISTERED OK" 180 \
    bash -c '"$1" regsvr32 /s "$3" && "$2" regsvr32 /s /u "$4" &&
             "$1" "$5" registered machine' _ "$wine32" "$wine64" "$ocx32" "$ocx64" "$client32"
  step "unregistering both leaves no key" "KESTOVA UNREGISTERED OK" 180 \
    bash -c '"$1" regsvr32 /s /u "$2" && "$4" "$3" unregistered machine' \
    _ "$wine32" "$ocx32" "$client64" "$WINE"
}

main() {
  mkdir -p "$WORK/run"
  ensure_packages
  build_windows
  build_simulator
  check_32bit_support

  trap stop_everything EXIT
  rm -f "$WORK/run/com$DATA_PORT" "$WORK/run/com$SILENT_PORT"
  start_plc "$WORK/run/com$DATA_PORT"
  start_plc "$WORK/run/com$SILENT_PORT" --drop
  make_prefix

  test_one_build win32 /usr/lib/wine/wine
  test_one_build win64 /usr/lib/wine/wine64
  test_side_by_side

  stop_everything
  trap - EXIT
  if [ -n "$no_32bit" ]; then
    echo "windows tests: $passed passed, $failed failed, $skipped skipped: this machine cannot run 32-bit programs"
  else
    echo "windows tests: $passed passed, $failed failed"
  fi
  if [ "$failed" -eq 0 ]; then
    echo "KESTOVA WINDOWS TESTS OK"
    return 0
  fi
  return 1
}

main "$@"
