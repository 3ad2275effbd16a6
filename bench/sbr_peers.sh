#!/usr/bin/env bash
# Times ffmpeg and faad decoding the two HE-AAC streams of bench_sbr_decode
# (mono + PS, stereo SBR) as whole processes, and puts our realtime factor
# beside theirs.
#
#   bench/sbr_peers.sh [build-dir] [repeats]
#
# The streams come from test_sbr_interop (it writes them into its work
# directory); each is concatenated `repeats` times (default 30, about a
# minute of audio) so that process start-up weighs little.
set -euo pipefail
build=${1:-build}
repeats=${2:-30}
work="$build/tests/sbrinterop/work"
if [ ! -f "$work/mono_ps.aac" ] || [ ! -f "$work/stereo_sbr.aac" ]; then
  "$build/tests/sbrinterop/test_sbr_interop" \
    --gtest_filter='Sbr/GeneratedStream.AgreesWithPeers/mono_ps:Sbr/GeneratedStream.AgreesWithPeers/stereo_sbr' \
    >/dev/null || true
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

now() { date +%s.%N; }
declare -A peer
for name in mono_ps stereo_sbr; do
  src="$work/$name.aac"
  [ -f "$src" ] || { echo "missing $src" >&2; exit 1; }
  long="$tmp/$name.aac"
  for _ in $(seq "$repeats"); do cat "$src"; done > "$long"
  frames=$(ffprobe -v error -count_packets -select_streams a:0 -show_entries stream=nb_read_packets \
           -of csv=p=0 "$long")
  seconds=$(echo "$frames * 2048 / 44100" | bc -l)
  t0=$(now); ffmpeg -nostdin -v error -i "$long" -f null - ; t1=$(now)
  faad -q -o "$tmp/out.wav" "$long" >/dev/null 2>&1; t2=$(now)
  peer[$name.ffmpeg]=$(echo "$seconds / ($t1 - $t0)" | bc -l)
  peer[$name.faad]=$(echo "$seconds / ($t2 - $t1)" | bc -l)
  printf '%-11s %6.1f s of audio: ffmpeg %7.1fx realtime, faad %7.1fx realtime\n' \
    "$name" "$seconds" "${peer[$name.ffmpeg]}" "${peer[$name.faad]}"
done

ours=$("$build/bench/bench_sbr_decode" --benchmark_format=csv 2>/dev/null | grep -E '^"?BM_' || true)
for pair in "mono_ps BM_DecodeMonoPs" "stereo_sbr BM_DecodeStereoSbr"; do
  set -- $pair
  # The realtime counter is the last column.
  rt=$(echo "$ours" | grep "$2" | awk -F, '{print $NF}')
  [ -n "$rt" ] || { echo "no result for $2 from bench_sbr_decode" >&2; continue; }
  printf '%-11s ours %7.1fx realtime: %.2f x ffmpeg, %.2f x faad\n' "$1" "$rt" \
    "$(echo "$rt / ${peer[$1.ffmpeg]}" | bc -l)" "$(echo "$rt / ${peer[$1.faad]}" | bc -l)"
done
