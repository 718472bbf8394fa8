#!/usr/bin/env bash
# Builds Kestova.ocx for 32- and 64-bit Windows and tests it under Wine and Xvfb against the
# virtual PLC. Environment: KESTOVA_PLCSIM (a built kestova-plcsim), KESTOVA_WINDOWS_WORK
# (default build/windows), KESTOVA_SKIP_32BIT=1 (act as on a machine that cannot run 32-bit
# programs: those checks count as skipped and every Wine program goes through wine64).
# shellcheck disable=SC2016
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
WORK=${KESTOVA_WINDOWS_WORK:-$ROOT/build/windows}
DATA_PORT=5     # COM5: the virtual PLC
SILENT_PORT=6   # COM6: a virtual PLC that never answers
WINE32=/usr/lib/wine/wine
WINE64=/usr/lib/wine/wine64
passed=0 failed=0 skipped=0 no_32bit="" skipping="" sim_pids=()
WINE=wine     # the loader every Wine program is started with

log() { printf '[windows] %s\n' "$*"; }

have_tools() {
  local tool
  for tool in {i686,x86_64}-w64-mingw32-{g++-posix,widl} xvfb-run xauth $WINE32 $WINE64; do
    command -v "$tool" >/dev/null || return 1
  done
  [ -f /usr/include/wine/wine/windows/oaidl.idl ] && [ -f /usr/include/CLI/CLI.hpp ] &&
    [ -f /usr/include/nlohmann/json.hpp ]
}

# wine64 and wine32 in one call: installing wine32 later can remove wine64.
ensure_packages() {
  if have_tools; then return 0; fi
  log "installing the cross compilers and Wine"
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  bash "$ROOT/scripts/install-deps.sh" g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools \
    libwine-dev libcli11-dev nlohmann-json3-dev wine wine64 wine32:i386 xvfb xauth
}

# Only a kernel that cannot run 32-bit programs skips: its exec of the 32-bit loader fails
# with 126. A 32-bit Wine that is merely broken fails the 32-bit checks instead.
check_32bit_support() {
  local status=0
  if [ "${KESTOVA_SKIP_32BIT:-}" = 1 ]; then
    log "KESTOVA_SKIP_32BIT=1: running as on a machine that cannot run 32-bit programs"
  else
    $WINE32 --version >/dev/null 2>&1 || status=$?
    [ "$status" -eq 126 ] || return 0
    log "this machine cannot run 32-bit programs: the 32-bit checks will be skipped"
  fi
  no_32bit=1
  WINE=$WINE64
}

# step NAME SUCCESS-LINE SECONDS COMMAND...: passes when COMMAND exits 0 and printed
# SUCCESS-LINE; counts as skipped while the build under test cannot run here.
step() {
  local name=$1 success=$2 seconds=$3 output status=0
  shift 3
  if [ -n "$skipping" ]; then
    log "SKIP $name" && skipped=$((skipped + 1)) && return 0
  fi
  output=$(timeout "$seconds" "$@" 2>&1) || status=$?
  output=${output//$'\r'/}  # Wine's console writes CRLF
  printf '%s\n' "$output" | sed 's/^/    /'
  if [ "$status" -eq 0 ] && grep -qxF -- "$success" <<<"$output"; then
    log "PASS $name" && passed=$((passed + 1))
  else
    log "FAIL $name (exit $status)" && failed=$((failed + 1))
  fi
}

build() {
  local preset
  for preset in win32 win64; do
    log "building the $preset control and test programs"
    timeout 600 cmake --preset "$preset" -S "$ROOT" >/dev/null
    timeout 900 cmake --build "$ROOT/build/$preset" -j2 \
      --target kestova_ocx kestova_cli com_client ole_container
  done
  PLCSIM=${KESTOVA_PLCSIM:-$WORK/linux/sim/kestova-plcsim}
  [ -n "${KESTOVA_PLCSIM:-}" ] && return
  log "building the virtual PLC"
  timeout 600 cmake -S "$ROOT" -B "$WORK/linux" -DCMAKE_BUILD_TYPE=Release \
    -DKESTOVA_BUILD_TESTS=OFF -DKESTOVA_BUILD_BENCH=OFF -DKESTOVA_BUILD_CLI=OFF >/dev/null
  timeout 600 cmake --build "$WORK/linux" -j2 --target kestova-plcsim
}

stop_wine() {
  timeout 60 wineserver -k 2>/dev/null || true
  timeout 60 wineserver -w 2>/dev/null || true
}

# Wine first: it holds the pseudo-terminals' slave ends open.
stop_everything() {
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then stop_wine; fi
  kill -TERM "${sim_pids[@]}" 2>/dev/null || true
  wait "${sim_pids[@]}" 2>/dev/null || true
  sim_pids=()
}

# start_plc LINK [OPTIONS...]: returns once the simulator has printed its slave path.
start_plc() {
  local link=$1 fd slave=""
  shift
  exec {fd}< <(exec "$PLCSIM" --link "$link" "$@")
  sim_pids+=($!)
  read -r -t 20 -u "$fd" slave && [ -n "$slave" ] || { log "the simulator did not start"; return 1; }
  log "virtual PLC on $slave ($link) $*"
}

make_prefix() {
  export WINEPREFIX=$WORK/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
  unset DISPLAY  # the console programs need none
  stop_wine
  rm -rf "$WINEPREFIX"
  log "creating a fresh Wine prefix"
  timeout 300 "$WINE" wineboot -i >/dev/null 2>&1
  timeout 120 wineserver -w
  # Wine remakes its COM device links from this key when its server starts again.
  local port
  for port in "$DATA_PORT" "$SILENT_PORT"; do
    timeout 60 "$WINE" reg add 'HKLM\Software\Wine\Ports' /v "COM$port" /d "$WORK/run/com$port" /f
  done >/dev/null
  stop_wine
}

windows_path() { [ -n "$skipping" ] || timeout 60 "$WINE" winepath -w "$1" 2>/dev/null; }

# register NAME LOADER OCX CLIENT WHAT SCOPE [REGSVR32-OPTIONS...]: regsvr32, then the
# client's check that the registry is WHAT (registered or unregistered) for SCOPE.
register() {
  step "$1" "KESTOVA ${5^^} OK" 120 bash -c '"$1" regsvr32 /s "${@:7}" "$2" && "$4" "$3" "$5" "$6"' \
    _ "$2" "$3" "$4" "$WINE" "$5" "$6" "${@:7}"
}

test_one_build() {
  local preset=$1 loader=$2 bin=$ROOT/build/$1
  skipping=""
  if [ "$preset" = win32 ] && [ -n "$no_32bit" ]; then skipping=1; fi
  local ocx client=$bin/tests/windows/com_client.exe cscript='C:\windows\system32\cscript.exe'
  if [ "$preset" = win32 ]; then cscript='C:\windows\syswow64\cscript.exe'; fi
  ocx=$(windows_path "$bin/server/Kestova.ocx")
  log "---- $preset${skipping:+ (skipped: this machine cannot run 32-bit programs)} ----"
  register "$preset register machine-wide" "$loader" "$ocx" "$client" registered machine
  step "$preset type library" "KESTOVA TYPELIB OK" 120 "$WINE" "$client" typelib
  step "$preset unloading" "KESTOVA UNLOAD OK" 120 "$WINE" "$client" unload "$ocx"
  step "$preset control through IDispatch" "KESTOVA COM CLIENT OK" 180 \
    "$WINE" "$client" control "$DATA_PORT" "$SILENT_PORT"
  step "$preset VBScript example" "KESTOVA VBSCRIPT OK" 180 "$WINE" "$cscript" //nologo \
    "$(windows_path "$ROOT/tests/windows/plc_example.vbs")" "$DATA_PORT" "$SILENT_PORT"
  # kestova.exe is tested on Linux; here, what Windows adds: the port by number.
  local cli=("$WINE" "$bin/server/kestova.exe" --port "$DATA_PORT")
  step "$preset kestova.exe write" "result 0" 60 "${cli[@]}" write D100 4660
  step "$preset kestova.exe read, JSON" '{"result":0,"device":"D100","values":[4660],"messages":[]}' \
    60 "${cli[@]}" --json read D100 1
  # The container needs a Wine server of its own inside the Xvfb session, stopped before the
  # session ends; nothing may start Wine in between.
  if [ -z "$skipping" ]; then stop_wine; fi
  step "$preset OLE container" "KESTOVA CONTAINER OK" 180 \
    xvfb-run -a -s "-screen 0 800x600x24" bash -c \
    '"$2" "$1"; status=$?; wineserver -k; wineserver -w; exit $status' \
    _ "$bin/tests/windows/ole_container.exe" "$WINE"
  register "$preset unregister machine-wide" "$loader" "$ocx" "$client" unregistered machine /u
  register "$preset register per user" "$loader" "$ocx" "$client" registered user /n /i:user
  register "$preset unregister per user" "$loader" "$ocx" "$client" unregistered user /u /n /i:user
}

# Both bitnesses registered side by side: unregistering one leaves the other creatable by
# ProgID with its type library, either way round; unregistering both leaves no key of ours.
test_side_by_side() {
  skipping=$no_32bit
  local ocx32 ocx64 client32=$ROOT/build/win32/tests/windows/com_client.exe
  local client64=$ROOT/build/win64/tests/windows/com_client.exe
  ocx32=$(windows_path "$ROOT/build/win32/server/Kestova.ocx")
  ocx64=$(windows_path "$ROOT/build/win64/server/Kestova.ocx")
  log "---- both bitnesses${skipping:+ (skipped: this machine cannot run 32-bit programs)} ----"
  step "unregistering the 32-bit control leaves the 64-bit one" "KESTOVA REGISTERED OK" 180 \
    bash -c '"$1" regsvr32 /s "$3" && "$2" regsvr32 /s "$4" && "$1" regsvr32 /s /u "$3" &&
             "$2" "$5" registered machine' _ $WINE32 $WINE64 "$ocx32" "$ocx64" "$client64"
  step "unregistering the 64-bit control leaves the 32-bit one" "KESTOVA REGISTERED OK" 180 \
    bash -c '"$1" regsvr32 /s "$3" && "$2" regsvr32 /s /u "$4" &&
             "$1" "$5" registered machine' _ $WINE32 $WINE64 "$ocx32" "$ocx64" "$client32"
  register "unregistering both leaves no key" $WINE32 "$ocx32" "$client64" unregistered machine /u
}

main() {
  mkdir -p "$WORK/run"
  ensure_packages
  build
  check_32bit_support
  trap stop_everything EXIT
  rm -f "$WORK/run/com$DATA_PORT" "$WORK/run/com$SILENT_PORT"
  start_plc "$WORK/run/com$DATA_PORT"
  start_plc "$WORK/run/com$SILENT_PORT" --drop
  make_prefix
  test_one_build win32 $WINE32
  test_one_build win64 $WINE64
  test_side_by_side
  stop_everything
  trap - EXIT
  echo "windows tests: $passed passed, $failed failed${no_32bit:+, $skipped skipped: this machine cannot run 32-bit programs}"
  [ "$failed" -eq 0 ] || return 1
  echo "KESTOVA WINDOWS TESTS OK"
}

main "$@"
