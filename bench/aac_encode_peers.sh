#!/usr/bin/env bash
# Times our encoders against ffmpeg's native AAC encoder as whole processes
# on the same long input, interleaved, and keeps the fastest of several runs:
#   aurivane encode --codec aac-lc  vs  ffmpeg -c:a aac -b:a 32k  (22.05 kHz mono)
#   aurivane encode --codec he-aac  vs  ffmpeg -c:a aac -b:a 32k  (44.1 kHz stereo;
#     ffmpeg codes AAC-LC, ours AAC-LC core + SBR + parametric stereo)
#
#   bench/aac_encode_peers.sh [build-dir] [seconds] [runs]
#
# The input is sox-made music (plucked melody, sawtooth pad, a little pink
# noise), `seconds` long (default 120), made once per call.
set -euo pipefail
build=${1:-build}
seconds=${2:-120}
runs=${3:-5}
cli="$build/tools/aurivane"
[ -x "$cli" ] || { echo "no $cli: build the aurivane_cli target first" >&2; exit 1; }
for tool in sox ffmpeg; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 1; }
done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

notes=""
for n in C4 E4 G4 C5 B4 G4 D5 B4 A4 C5 E5 A4 F4 A4 C5 G4; do
  notes="$notes${notes:+ : }synth 0.25 pluck $n"
done
# shellcheck disable=SC2086
sox -R -n -r 44100 -c 1 "$tmp/phrase.wav" $notes
sox "$tmp/phrase.wav" "$tmp/mel.wav" repeat $((seconds / 4)) trim 0 "$seconds"
sox -R -n -r 44100 -c 1 "$tmp/pad.wav" synth "$seconds" sawtooth 220 lowpass 2000 tremolo 0.5 40
sox -R -n -r 44100 -c 1 "$tmp/noise.wav" synth "$seconds" pinknoise
sox -m -v 0.8 "$tmp/mel.wav" -v 0.15 "$tmp/pad.wav" -v 0.03 "$tmp/noise.wav" "$tmp/left.wav"
sox -m -v 0.3 "$tmp/mel.wav" -v 0.4 "$tmp/pad.wav" -v 0.03 "$tmp/noise.wav" "$tmp/right.wav"
sox -M "$tmp/left.wav" "$tmp/right.wav" "$tmp/stereo44.wav"
sox "$tmp/stereo44.wav" -r 22050 -c 1 "$tmp/mono22.wav"

now() { date +%s.%N; }
# Seconds of the fastest of `runs` runs of each command, run alternately.
race() {
  local ours=$1 theirs=$2 best_ours=1e9 best_theirs=1e9 t0 t1 t2
  for _ in $(seq "$runs"); do
    t0=$(now); eval "$ours" >/dev/null 2>&1; t1=$(now); eval "$theirs" >/dev/null 2>&1; t2=$(now)
    best_ours=$(awk -v a="$t0" -v b="$t1" -v m="$best_ours" 'BEGIN { d = b - a; print (d < m ? d : m) }')
    best_theirs=$(awk -v a="$t1" -v b="$t2" -v m="$best_theirs" 'BEGIN { d = b - a; print (d < m ? d : m) }')
  done
  echo "$best_ours $best_theirs"
}

report() {
  local name=$1 times=$2 ours theirs
  ours=${times% *}; theirs=${times#* }
  awk -v n="$name" -v s="$seconds" -v o="$ours" -v t="$theirs" 'BEGIN {
    printf "%-32s ours %7.1fx realtime (%.3f s), ffmpeg %7.1fx realtime (%.3f s): ours %.2f x ffmpeg\n",
           n, s / o, o, s / t, t, t / o }'
}

echo "$seconds s of music, fastest of $runs interleaved runs, whole processes:"
report "AAC-LC 22.05 kHz mono 32k" "$(race \
  "'$cli' encode --codec aac-lc --bitrate 32000 '$tmp/mono22.wav' '$tmp/ours_lc.aac'" \
  "ffmpeg -nostdin -v error -y -i '$tmp/mono22.wav' -c:a aac -b:a 32k -f adts '$tmp/ffmpeg_lc.aac'")"
report "HE-AAC v2 44.1 kHz stereo 32k" "$(race \
  "'$cli' encode --codec he-aac --bitrate 32000 '$tmp/stereo44.wav' '$tmp/ours_he.aac'" \
  "ffmpeg -nostdin -v error -y -i '$tmp/stereo44.wav' -c:a aac -b:a 32k -f adts '$tmp/ffmpeg_he.aac'")"
