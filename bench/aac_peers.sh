#!/usr/bin/env bash
# Times ffmpeg and faad decoding the AAC-LC streams of bench_aac_decode as
# whole processes and puts our realtime factor (core decoder) beside theirs.
#
#   bench/aac_peers.sh [build-dir] [repeats]
#
# Each stream is concatenated `repeats` times (default 40) so that process
# start-up weighs little. faad treats streams at 24 kHz and below as if they
# carried SBR and upsamples them to 44.1 kHz, so its 22.05 kHz figures
# include that extra work; the 44.1 kHz stream compares like with like.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-build}
repeats=${2:-40}
data="$here/../tests/data/aacdec"
shared="$here/../../shared/samples/aac"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

now() { date +%s.%N; }
declare -A peer
declare -A rate
streams="Mono22k:$data/mono_clicks.aac Stereo22k:$data/stereo_tns.aac Stereo44k:$shared/lc_adts_44k1_stereo_88k.aac"
for item in $streams; do
  name=${item%%:*}; src=${item#*:}
  [ -f "$src" ] || { echo "missing $src, skipped" >&2; continue; }
  long="$tmp/$name.aac"
  for _ in $(seq "$repeats"); do cat "$src"; done > "$long"
  frames=$(ffprobe -v error -count_packets -select_streams a:0 -show_entries stream=nb_read_packets \
           -of csv=p=0 "$long")
  sr=$(ffprobe -v error -select_streams a:0 -show_entries stream=sample_rate -of csv=p=0 "$long")
  seconds=$(echo "$frames * 1024 / $sr" | bc -l)
  t0=$(now); ffmpeg -nostdin -v error -i "$long" -f null - ; t1=$(now)
  faad -q -o "$tmp/out.wav" "$long" >/dev/null 2>&1; t2=$(now)
  peer[$name.ffmpeg]=$(echo "$seconds / ($t1 - $t0)" | bc -l)
  peer[$name.faad]=$(echo "$seconds / ($t2 - $t1)" | bc -l)
  rate[$name]=1
  printf '%-10s %6.1f s of audio: ffmpeg %7.1fx realtime, faad %7.1fx realtime\n' \
    "$name" "$seconds" "${peer[$name.ffmpeg]}" "${peer[$name.faad]}"
done

ours=$("$build/bench/bench_aac_decode" --benchmark_filter='CoreDecode' --benchmark_format=csv 2>/dev/null \
       | grep -E '^"?CoreDecode' || true)
for name in Mono22k Stereo22k Stereo44k; do
  [ -n "${rate[$name]:-}" ] || continue
  # The realtime counter is the last column.
  rt=$(echo "$ours" | grep "CoreDecode/$name" | awk -F, '{print $NF}')
  [ -n "$rt" ] || { echo "no result for $name from bench_aac_decode" >&2; continue; }
  printf '%-10s ours %7.1fx realtime: %.2f x ffmpeg, %.2f x faad\n' "$name" "$rt" \
    "$(echo "$rt / ${peer[$name.ffmpeg]}" | bc -l)" "$(echo "$rt / ${peer[$name.faad]}" | bc -l)"
done
