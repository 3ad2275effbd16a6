#!/usr/bin/env bash
# Installs what the tests need, then builds and runs every test:
#   native build, AddressSanitizer + UndefinedBehaviorSanitizer build,
#   ThreadSanitizer build of the concurrency tests, the 32-bit Windows DLL
#   under wine, and bounded libFuzzer runs.
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
JOBS=${JOBS:-$(nproc)}
FUZZ_SECONDS=${FUZZ_SECONDS:-60}
export WINEDEBUG=-all
# A wine prefix of our own under out/, never the user's ~/.wine; mono and
# gecko are not needed by the host programs.
export WINEPREFIX="$ROOT/out/wineprefix"
export WINEDLLOVERRIDES="mscoree,mshtml="

bash scripts/install-deps.sh || { echo "installing dependencies failed"; exit 1; }

total_pass=0
total_fail=0
total_skip=0
status=0
skipped_tests=""

# Runs ctest in a build tree and adds its counts to the totals.
run_ctest() {
  local dir=$1
  shift
  local log="$dir/ctest.log"
  (cd "$dir" && ctest --output-on-failure -j"$JOBS" "$@") 2>&1 | tee "$log"
  local line
  line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1)
  if [ -z "$line" ]; then
    echo "no ctest summary in $dir"
    total_fail=$((total_fail + 1))
    status=1
    return
  fi
  local failed all skipped
  failed=$(echo "$line" | sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/')
  all=$(echo "$line" | sed -E 's/.* failed out of ([0-9]+).*/\1/')
  # ctest counts a skipped test (GTEST_SKIP, SKIP_RETURN_CODE) as passed;
  # it lists them under "The following tests did not run".
  skipped=$(grep -cE '^[[:space:]]*[0-9]+ - .*\(Skipped\)$' "$log")
  skipped_tests+=$(grep -E '^[[:space:]]*[0-9]+ - .*\(Skipped\)$' "$log" | sed -E "s|^[[:space:]]*[0-9]+ - |  $dir: |")$'\n'
  total_pass=$((total_pass + all - failed - skipped))
  total_fail=$((total_fail + failed))
  total_skip=$((total_skip + skipped))
  [ "$failed" -eq 0 ] || status=1
}

# build DIR [cmake args]: configures and builds; with WARNINGS_FAIL=1 any
# compiler warning fails the build (not under sanitizers, whose
# instrumentation makes GCC warn about code it generated itself).
build() {
  local dir=$1
  shift
  cmake -S . -B "$dir" "$@" > "$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; return 1; }
  local targets=()
  for t in ${BUILD_TARGETS:-}; do targets+=(--target "$t"); done
  cmake --build "$dir" -j"$JOBS" "${targets[@]}" > "$dir.build.log" 2>&1 || { tail -50 "$dir.build.log"; return 1; }
  if [ "${WARNINGS_FAIL:-0}" = 1 ] && grep -q 'warning:' "$dir.build.log"; then
    echo "compiler warnings in $dir:"
    grep 'warning:' "$dir.build.log" | sort -u | head -20
    return 1
  fi
}

mkdir -p out
step() { echo; echo "=== $*"; }

# Every build passes every option it relies on, so a cache left by another
# command (or an older run) cannot change what is built.
step "native build and tests"
if WARNINGS_FAIL=1 build out/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DAURIVANE_TESTS=ON -DAURIVANE_BENCH=ON \
     -DAURIVANE_FUZZ=OFF -DAURIVANE_SANITIZE= -DCMAKE_CXX_FLAGS=; then
  run_ctest out/release
else
  echo "native build failed"; total_fail=$((total_fail + 1)); status=1
fi

step "AddressSanitizer + UndefinedBehaviorSanitizer"
if build out/asan -DCMAKE_BUILD_TYPE=Debug -DAURIVANE_SANITIZE=address,undefined -DAURIVANE_TESTS=ON \
     -DAURIVANE_BENCH=OFF -DAURIVANE_FUZZ=OFF -DCMAKE_CXX_FLAGS=-O1; then
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 run_ctest out/asan
else
  echo "sanitizer build failed"; total_fail=$((total_fail + 1)); status=1
fi

if [ -f tests/device/CMakeLists.txt ]; then
  step "ThreadSanitizer (concurrency tests)"
  # Only the tests where threads meet: recorder, player, wave services.
  if BUILD_TARGETS="test_device test_device_stress test_device_alsa" \
       build out/tsan -DCMAKE_BUILD_TYPE=Debug -DAURIVANE_SANITIZE=thread -DAURIVANE_TESTS=ON -DAURIVANE_BENCH=OFF \
         -DAURIVANE_FUZZ=OFF -DCMAKE_CXX_FLAGS=-O1; then
    TSAN_OPTIONS=halt_on_error=1 run_ctest out/tsan \
      -R '^(RecorderTest|PlayerTest|LoopbackTest|VirtualCardTest|DeviceStressTest|AlsaNullTest|Faults/(RecorderStartFaultTest|PlayerOpenFaultTest))\.'

  else
    echo "thread-sanitizer build failed"; total_fail=$((total_fail + 1)); status=1
  fi
fi

step "32-bit Windows DLL under wine"
# Created once, before any host program starts: two wine processes that
# find no prefix race to create it, and one of them fails.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "creating the wine prefix $WINEPREFIX"
  wineboot -i > out/wineprefix.log 2>&1
  wineserver -w
fi
if WARNINGS_FAIL=1 build out/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo \
     -DAURIVANE_TESTS=ON -DAURIVANE_BENCH=OFF -DAURIVANE_FUZZ=OFF -DAURIVANE_SANITIZE= -DCMAKE_CXX_FLAGS=; then
  run_ctest out/win32
else
  echo "Windows build failed"; total_fail=$((total_fail + 1)); status=1
fi

if ls fuzz/*_fuzz.cpp > /dev/null 2>&1; then
  step "libFuzzer (${FUZZ_SECONDS}s per target)"
  if CC=clang CXX=clang++ build out/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DAURIVANE_FUZZ=ON \
       -DAURIVANE_TESTS=OFF -DAURIVANE_BENCH=OFF -DAURIVANE_SANITIZE=address,undefined -DCMAKE_CXX_FLAGS=; then
    for f in out/fuzz/fuzz/*_fuzz; do
      [ -x "$f" ] || continue
      name=$(basename "$f")
      corpus="out/fuzz/corpus-$name"
      mkdir -p "$corpus"
      # Seeds from the corpus named by the longest leading part of the
      # target's name: aac_core_encoder_fuzz reads fuzz/corpus/aac_core,
      # aac_decoder_fuzz fuzz/corpus/aac.
      seeds=""
      stem=${name%_fuzz}
      while [ -n "$stem" ]; do
        if [ -d "fuzz/corpus/$stem" ]; then seeds="fuzz/corpus/$stem"; break; fi
        [ "${stem%_*}" = "$stem" ] && break
        stem=${stem%_*}
      done
      # -timeout: one input that runs away fails the target instead of
      # holding the run for libFuzzer's default twenty minutes.
      if "$f" -max_total_time="$FUZZ_SECONDS" -timeout=30 -print_final_stats=0 "$corpus" $seeds \
           > "out/fuzz/$name.log" 2>&1; then
        echo "fuzz $name: clean"; total_pass=$((total_pass + 1))
      else
        echo "fuzz $name: FAILED"; tail -40 "out/fuzz/$name.log"; total_fail=$((total_fail + 1)); status=1
      fi
    done
  else
    echo "fuzz build failed"; total_fail=$((total_fail + 1)); status=1
  fi
fi

echo
if [ "$total_skip" -gt 0 ]; then
  echo "skipped (a peer program or the shared samples missing):"
  printf '%s' "$skipped_tests" | grep -v '^$'
  # CI has every peer and ../shared/samples: there a skip is a failure.
  if [ "${AURIVANE_REQUIRE_PEERS:-0}" = 1 ]; then
    echo "AURIVANE_REQUIRE_PEERS=1: skipped tests count as failures"
    status=1
  fi
fi
echo "total: $total_pass passed, $total_fail failed, $total_skip skipped"
exit $status
