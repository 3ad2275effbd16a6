#!/usr/bin/env bash
# Plants one known fault at a time in a scratch copy of the committed tree,
# builds the release configuration and runs the native tests, and reports
# whether any test failed (caught) or none did (missed), and which.
#
#   scripts/mutate.sh --list
#   scripts/mutate.sh NAME... [--tests REGEX]   # REGEX narrows ctest -R
#   scripts/mutate.sh --all [--tests REGEX]
#
# The copy is HEAD (git archive), in $MUTATE_DIR (default /tmp/aurivane-mutate)
# next to a link to ../shared, so the tests find the samples and tables as
# they do in the checkout; a mutation marked "no-samples" links a shared folder
# without samples/. The copy is built once and reused: each mutation is
# applied, built incrementally, tested and undone. The unmutated copy is
# tested first with the same selection; tests failing there are not counted.
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
SCRATCH=${MUTATE_DIR:-/tmp/aurivane-mutate}
JOBS=${JOBS:-$(nproc)}

# name | file | exact text | replacement | tests run when --tests is not given
# (empty: the whole native suite) | flags
MUTATIONS=(
  "g729-tilt-weight|src/g729/g729_tables.h|kTiltWeight = 0.7;|kTiltWeight = 0.6;||"
  "g729-postfilter-tilt|src/g729/g729_tables.h|kTiltMu = 0.8;|kTiltMu = 0.7;||no-samples"
  "wave-player-name|src/engine/catalogue.cpp|{kWavePlayerId, \"CWavePlayer\",|{kWavePlayerId, \"CWavePlayr\",||"
  "aac-decoder-id|include/aurivane/aurivane.h|0xB3, 0x1E, 0x0C, 0xAC}};|0xB3, 0x1E, 0x0C, 0xAD}};||"
  "wav-byte-rate|tools/wav_file.cpp|PutLe(h + 28, sampleRate * 2u * channels, 4);|PutLe(h + 28, sampleRate * channels, 4);||"
  "imdct-sign|src/aacdec/aac_filterbank.cpp|DctIv(spectrum, count, u, work);|DctIv(spectrum, count, u, work); for (float& v : u) v = -v;|ThirdPartyLc.*24k|"
  "sbr-coupled-right-envelope|src/aacdec/sbr_decoder.cpp|c1.envOrig[l][k] = level / (1.0f + std::exp2((bal - pan) / a));|c1.envOrig[l][k] = level / (1.0f + std::exp2((pan - bal) / a));||"
  "sbr-no-aliasing-reduction|src/aacdec/sbr_hf.cpp|if (!in.complex && in.degreeAlias) ReduceAliasing(|if (false) ReduceAliasing(||"
  "pns-stored-energy|src/aacdec/aac_spectral_tools.cpp|0.25 * (ch->scalefactor[slot] + 100) - bias|0.25 * ch->scalefactor[slot] - bias||"
)

field() { echo "$1" | awk -F'|' -v i="$2" '{print $i}'; }

list() {
  for m in "${MUTATIONS[@]}"; do
    printf '%-28s %s: "%s" -> "%s"%s%s\n' "$(field "$m" 1)" "$(field "$m" 2)" "$(field "$m" 3)" "$(field "$m" 4)" \
      "$( [ -n "$(field "$m" 5)" ] && echo " [tests: $(field "$m" 5)]")" \
      "$( [ -n "$(field "$m" 6)" ] && echo " [$(field "$m" 6)]")"
  done
}

names=()
tests_override=""
while [ $# -gt 0 ]; do
  case $1 in
    --list) list; exit 0 ;;
    --all) for m in "${MUTATIONS[@]}"; do names+=("$(field "$m" 1)"); done ;;
    --tests) tests_override=$2; shift ;;
    -h|--help) sed -n '2,16p' "$0"; exit 0 ;;
    *) names+=("$1") ;;
  esac
  shift
done
[ ${#names[@]} -gt 0 ] || { sed -n '2,16p' "$0"; exit 2; }

lookup() {
  for m in "${MUTATIONS[@]}"; do [ "$(field "$m" 1)" = "$1" ] && { echo "$m"; return 0; }; done
  return 1
}
for n in "${names[@]}"; do lookup "$n" > /dev/null || { echo "unknown mutation: $n (see --list)"; exit 2; }; done

# The scratch tree: HEAD, and ../shared beside it (full, or without samples).
tree="$SCRATCH/main"
mkdir -p "$SCRATCH"
rm -rf "$SCRATCH/main.new"
mkdir "$SCRATCH/main.new"
git archive HEAD | tar -x -C "$SCRATCH/main.new" || { echo "git archive failed"; exit 2; }
if [ -d "$tree" ]; then
  # Keep the build folder; take the sources as committed now.
  mv "$tree/out" "$SCRATCH/main.new/out" 2> /dev/null
  rm -rf "$tree"
fi
mv "$SCRATCH/main.new" "$tree"
shared=$(cd "$ROOT/../shared" && pwd)
mkdir -p "$SCRATCH/shared-no-samples"
for entry in "$shared"/*; do
  [ "$(basename "$entry")" = samples ] || ln -sfn "$entry" "$SCRATCH/shared-no-samples/$(basename "$entry")"
done
use_shared() { ln -sfn "$1" "$SCRATCH/shared"; }
use_shared "$shared"

build="$tree/out/release"
configure() {
  cmake -S "$tree" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DAURIVANE_TESTS=ON -DAURIVANE_BENCH=OFF \
    -DAURIVANE_FUZZ=OFF -DAURIVANE_SANITIZE= -DCMAKE_CXX_FLAGS= > "$SCRATCH/configure.log" 2>&1
}
# -k: a target someone else broke does not stop the others.
compile() { cmake --build "$build" -j"$JOBS" -- -k > "$SCRATCH/build.log" 2>&1; }
# run_tests REGEX LOG: ctest over the selection; prints the failed tests' names.
run_tests() {
  local args=()
  [ -n "$1" ] && args=(-R "$1")
  (cd "$build" && ctest -j"$JOBS" --timeout 900 --output-on-failure "${args[@]}") > "$2" 2>&1
  sed -n '/The following tests FAILED:/,$p' "$2" | grep -E '^[[:space:]]*[0-9]+ - ' |
    sed -E 's/^[[:space:]]*[0-9]+ - //; s/ \((Failed|Timeout|SEGFAULT|Subprocess aborted|Not Run|Exception|Child aborted)\)$//; s/  # GetParam\(\).*//'
}

configure || { tail -20 "$SCRATCH/configure.log"; exit 2; }
echo "building the unmutated copy in $build"
base_builds=1
if ! compile; then
  base_builds=0
  echo "WARNING: the unmutated copy does not build completely; the tests of what failed count as failing"
  echo "without a mutation:"
  grep -E 'error' "$SCRATCH/build.log" | head -5 | sed 's/^/    /'
fi

declare -A baseline_done
summary=()
status=0
for n in "${names[@]}"; do
  m=$(lookup "$n")
  file=$(field "$m" 2); old=$(field "$m" 3); new=$(field "$m" 4); flags=$(field "$m" 6)
  regex=${tests_override:-$(field "$m" 5)}
  if [[ $flags == *no-samples* ]]; then use_shared "$SCRATCH/shared-no-samples"; else use_shared "$shared"; fi
  key="$regex|$flags"
  if [ -z "${baseline_done[$key]:-}" ]; then
    echo "baseline: unmutated copy, tests '${regex:-all}'${flags:+ ($flags)}"
    run_tests "$regex" "$SCRATCH/baseline.log" | sort > "$SCRATCH/baseline-failed-$(echo "$key" | md5sum | cut -c1-8)"
    baseline_done[$key]=1
  fi
  base_failed="$SCRATCH/baseline-failed-$(echo "$key" | md5sum | cut -c1-8)"
  [ -s "$base_failed" ] && { echo "  failing without a mutation (not counted):"; sed 's/^/    /' "$base_failed"; }

  echo "mutation $n: $file"
  cp "$tree/$file" "$SCRATCH/original"
  if ! OLD="$old" NEW="$new" python3 - "$tree/$file" <<'EOF'
import os, sys
path = sys.argv[1]
text = open(path).read()
old, new = os.environ["OLD"], os.environ["NEW"]
count = text.count(old)
if count != 1:
    sys.exit(f"pattern found {count} times in {path}: {old}")
open(path, "w").write(text.replace(old, new))
EOF
  then
    echo "  NOT APPLIED: the pattern is not in the committed $file (update the list)"
    summary+=("$(printf '%-28s not applied' "$n")")
    status=1
    continue
  fi
  if ! compile && [ "$base_builds" = 1 ]; then
    echo "  caught by the build:"; grep -E 'error' "$SCRATCH/build.log" | head -5 | sed 's/^/    /'
    summary+=("$(printf '%-28s caught (build)' "$n")")
  else
    failed=$(run_tests "$regex" "$SCRATCH/$n.log" | sort | comm -23 - "$base_failed")
    if [ -n "$failed" ]; then
      echo "  CAUGHT by $(echo "$failed" | wc -l) test(s):"; echo "$failed" | sed 's/^/    /'
      summary+=("$(printf '%-28s caught by %s' "$n" "$(echo "$failed" | head -3 | paste -sd ';' -)$( [ "$(echo "$failed" | wc -l)" -gt 3 ] && echo " ...")")")
    else
      echo "  MISSED: every test of '${regex:-all}' passed (log $SCRATCH/$n.log)"
      summary+=("$(printf '%-28s MISSED' "$n")")
      status=1
    fi
  fi
  # Undone and rebuilt before anything else runs on the copy.
  cp "$SCRATCH/original" "$tree/$file"
  compile || [ "$base_builds" = 0 ] || { tail -30 "$SCRATCH/build.log"; echo "the copy does not build after undoing $n"; exit 2; }
done
use_shared "$shared"

echo
echo "summary (tests: ${tests_override:-per mutation}):"
printf '  %s\n' "${summary[@]}"
exit $status
