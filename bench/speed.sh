#!/usr/bin/env bash
# Decoding speed as a user meets it: whole processes, CPU time (user+sys).
#
#   bench/speed.sh [build-dir] [runs]
#
# Builds a corpus of a few minutes (sox synthesis, espeak-ng speech, the
# music and speech of tests/data), encodes it with ffmpeg to AAC-LC at
# 22.05 and 44.1 kHz, mono and stereo, and with `aurivane encode --codec
# he-aac` to HE-AAC v2, and loops the HE-AAC v1 streams of the shared
# samples (SHARED_SAMPLES, default ../shared/samples/aac). Then times
# `aurivane decode x.aac out.wav` against `ffmpeg -i x.aac -f wav out.wav`
# and `faad -o out.wav x.aac`, all writing a WAV file to the same disk,
# interleaved, and keeps the minimum of `runs` (default 5) per program.
# faad decodes 22.05 kHz AAC-LC as if it carried SBR (upsampling to
# 44.1 kHz), so its 22.05 kHz figures include that extra work.
# When bench/g729_speed.sh is present it runs after the AAC table.
# SPEED_WORK=dir keeps the material in dir instead of a temporary folder.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
runs=${2:-5}
cli="$build/tools/aurivane"
data="$here/../tests/data"
[ -x "$cli" ] || { echo "no $cli; build the aurivane_cli target first" >&2; exit 1; }
for tool in ffmpeg ffprobe sox; do
  command -v "$tool" >/dev/null || { echo "$tool is needed" >&2; exit 1; }
done
have_faad=0; command -v faad >/dev/null && have_faad=1
# SPEED_WORK=dir keeps the corpus, the streams and the outputs there.
if [ -n "${SPEED_WORK:-}" ]; then
  tmp=$SPEED_WORK; mkdir -p "$tmp"
else
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
fi

# --- corpus: 44.1 kHz stereo, about three minutes --------------------------
items=()
# add INPUT [EFFECT...]: one item of the corpus; INPUT "-n" synthesises.
add() {
  local in=$1 out="$tmp/item${#items[@]}.wav"
  shift
  if [ "$in" = -n ]; then in="-n -r 44100 -c 2"; fi
  # shellcheck disable=SC2086
  sox $in -r 44100 -c 2 -b 16 "$out" "$@" 2>/dev/null && items+=("$out") || echo "corpus item failed: $*" >&2
}
for i in 1 2 3 4 5 6; do add "$data/aacenc/music.flac" repeat 2 pitch $((i * 150 - 450)) tempo 0.$((6 + i % 3)); done
add -n synth 20 pluck C3 pluck E4 tremolo 4 60 reverb 40 gain -6
add -n synth 20 pinknoise band 1200 900 tremolo 0.7 80 gain -10
add -n synth 20 sine 110-3520 square 55 lowpass 6000 gain -14
add -n synth 15 sawtooth C2 sawtooth G2 tremolo 6 40 highpass 80 gain -12
for f in "$data"/g729/*.wav; do add "$f" repeat 2 reverb 20; done
if command -v espeak-ng >/dev/null; then
  for voice in en-us en-gb de fr; do
    espeak-ng -v "$voice" -s 150 -w "$tmp/sp_$voice.wav" \
      "The quick brown fox jumps over the lazy dog. Sixty two decoders listened for the bass line, \
the cymbals and the silence between the words, and then they counted the frames once more." 2>/dev/null &&
      add "$tmp/sp_$voice.wav" pad 0 0.5
  done
fi
sox "${items[@]}" "$tmp/corpus.wav"
seconds=$(soxi -D "$tmp/corpus.wav")
printf 'corpus: %.1f s of music, synthesis and speech\n' "$seconds"

# --- streams ------------------------------------------------------------------
streams=()
lc() {  # name rate channels bitrate
  ffmpeg -nostdin -v error -y -i "$tmp/corpus.wav" -ar "$2" -ac "$3" -c:a aac -b:a "$4" -f adts "$tmp/$1.aac"
  streams+=("$1")
}
lc lc22_mono 22050 1 24k
lc lc22_stereo 22050 2 32k
lc lc44_mono 44100 1 48k
lc lc44_stereo 44100 2 64k
lc lc44_stereo128 44100 2 128k
sox "$tmp/corpus.wav" -c 1 "$tmp/mono.wav"
# Our encoder writes HE-AAC v2 (PS) for mono and stereo input alike.
"$cli" encode --codec he-aac --bitrate 24k "$tmp/mono.wav" "$tmp/he2_mono_in.aac" >/dev/null 2>&1 &&
  streams+=(he2_mono_in) || echo "HE-AAC encoding of the mono corpus failed, skipped" >&2
"$cli" encode --codec he-aac --bitrate 32k "$tmp/corpus.wav" "$tmp/he2_stereo_in.aac" >/dev/null 2>&1 &&
  streams+=(he2_stereo_in) || echo "HE-AAC encoding of the stereo corpus failed, skipped" >&2
# HE-AAC v1 (SBR without PS) from the shared samples of an independent
# encoder, looped to a few minutes: a 22.05 kHz stereo core without its
# leading junk and cut tail, and an 8 kHz mono core taken out of MP4.
samples=${SHARED_SAMPLES:-$here/../../shared/samples/aac}
loop() {  # name source count
  for _ in $(seq "$3"); do cat "$2"; done > "$tmp/$1.aac"
  streams+=("$1")
}
junk="$samples/hev1_adts-mpeg2_22k05-stereo-core_junk-and-truncated.aac"
if [ -f "$junk" ]; then
  tail -c +27 "$junk" | head -c -2 > "$tmp/hev1_frames.aac"
  loop he1_stereo22 "$tmp/hev1_frames.aac" 400
fi
mp4="$samples/hev1_mp4_explicit_8k-mono-core_16k-out.mp4"
if [ -f "$mp4" ] && ffmpeg -nostdin -v error -y -i "$mp4" -c:a copy -f adts "$tmp/hev1_8k.aac"; then
  loop he1_mono8 "$tmp/hev1_8k.aac" 3
fi

# --- timing -------------------------------------------------------------------
# CPU seconds (user+sys) of one whole process.
# bash's own timer reads the child's rusage to the millisecond.
cpu() {
  local TIMEFORMAT='%3U %3S' t
  t=$( { time "$@" >/dev/null 2>&1; } 2>&1 ) || { echo "failed: $*" >&2; echo 999; return; }
  awk '{print $1 + $2}' <<<"$t"
}
min() { awk -v a="$1" -v b="$2" 'BEGIN {print (b == "" || a < b) ? a : b}'; }

printf '\n%-15s %7s | %9s %9s %9s | %7s %7s\n' stream audio_s ours ffmpeg faad ours/ff ours/faad
for s in "${streams[@]}"; do
  in="$tmp/$s.aac"
  o=""; f=""; a=""; dur=""
  for _ in $(seq "$runs"); do
    o=$(min "$(cpu "$cli" decode "$in" "$tmp/ours.wav")" "$o")
    f=$(min "$(cpu ffmpeg -nostdin -v error -y -i "$in" -f wav "$tmp/ffmpeg.wav")" "$f")
    if [ "$have_faad" = 1 ]; then a=$(min "$(cpu faad -q -o "$tmp/faad.wav" "$in")" "$a"); fi
    # The length of what ffmpeg decoded, as the duration of the stream.
    [ -n "$dur" ] || dur=$(soxi -D "$tmp/ffmpeg.wav")
  done
  # A zero reading counts as half a millisecond.
  rt() { awk -v d="$dur" -v t="$1" 'BEGIN {if (t == "") print "-"; else printf "%.0fx", d / (t > 0 ? t : 0.0005)}'; }
  ratio() { awk -v x="$1" -v y="$2" 'BEGIN {if (x == "" || y == "") print "-"; else printf "%.2f", (y > 0 ? y : 0.0005) / (x > 0 ? x : 0.0005)}'; }
  printf '%-15s %7.1f | %9s %9s %9s | %7s %7s\n' "$s" "$dur" "$(rt "$o")" "$(rt "$f")" "$(rt "$a")" \
    "$(ratio "$o" "$f")" "$(ratio "$o" "$a")"
done
echo "(realtime factors from the minimum CPU time of $runs runs; ratios above 1 mean ours is faster)"

if [ -f "$here/g729_speed.sh" ]; then
  echo
  bash "$here/g729_speed.sh" "$build"
fi
