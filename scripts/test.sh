#!/usr/bin/env bash
# Builds and runs the test suite.
#   scripts/test.sh                 the whole suite, warnings as errors
#   scripts/test.sh --asan          built with AddressSanitizer and UBSan (clang)
#   scripts/test.sh --tsan          the threaded tests (label "threaded") under ThreadSanitizer
#   scripts/test.sh --windows       cross-built for Windows (mingw-w64, build-win/), run under Wine
#   scripts/test.sh [...] -- ARGS   extra ctest arguments, e.g. -- -R StringTest
set -euo pipefail
cd "$(dirname "$0")/.."

build=build cmake_args=() ctest_args=() windows=
while [ $# -gt 0 ]; do
  case "$1" in
    --asan) build=build-asan; cmake_args+=(-DTRIVANE_SANITIZE=address -DCMAKE_CXX_COMPILER=clang++) ;;
    --tsan) build=build-tsan; cmake_args+=(-DTRIVANE_SANITIZE=thread -DCMAKE_CXX_COMPILER=clang++) ;;
    --windows) build=build-win windows=1; cmake_args+=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake) ;;
    --) shift; ctest_args+=("$@"); break ;;
    *) echo "usage: $0 [--asan|--tsan|--windows] [-- ctest arguments]" >&2; exit 2 ;;
  esac
  shift
done

cmake -S . -B "$build" -G Ninja -DTRIVANE_WERROR=ON "${cmake_args[@]}" >/dev/null
cmake --build "$build"
if [ -n "$windows" ]; then
  # A fresh prefix in the build directory, and one wineserver for the whole
  # suite: without it every executable waits seconds for its own.
  export WINEPREFIX="$PWD/$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= DISPLAY=
  wineserver=/usr/lib/wine/wineserver64
  [ -x "$wineserver" ] || wineserver=wineserver
  rm -rf "$WINEPREFIX" && mkdir -p "$WINEPREFIX"
  "$wineserver" -p
  trap '"$wineserver" -k 2>/dev/null || true' EXIT
  /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1
  # The first start of a prefix leaves two service control managers running,
  # each with its own view of the services; after a restart there is one.
  "$wineserver" -k || true
  "$wineserver" -w || true
  "$wineserver" -p
  /usr/lib/wine/wine64 wineboot >/dev/null 2>&1
fi
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" --timeout 300 "${ctest_args[@]}"
