#!/usr/bin/env bash
# Regenerates music.flac, the demo's built-in music example: four seconds of
# 44.1 kHz stereo with plucks on the left, a bass line on the right and a
# tremolo pad in the middle. Needs sox.
set -euo pipefail
cd "$(dirname "$0")"
t=$(mktemp -d)
trap 'rm -rf "$t"' EXIT
sox -n -r 44100 -c 1 "$t/l.wav" synth 0.5 pluck C4 : synth 0.5 pluck E4 : synth 0.5 pluck G4 : synth 0.5 pluck C5 \
  : synth 0.5 pluck A3 : synth 0.5 pluck C4 : synth 0.5 pluck E4 : synth 0.5 pluck A4
sox -n -r 44100 -c 1 "$t/r.wav" synth 2 sine C2 sine G2 fade 0.05 2 0.3 : synth 2 sine A1 sine E2 fade 0.05 2 0.3
sox -n -r 44100 -c 1 "$t/p.wav" synth 4 saw C3 saw E3 saw G3 lowpass 1800 gain -18 tremolo 3 30 fade 0.5 4 0.8
sox -M "$t/l.wav" "$t/r.wav" "$t/m1.wav"
sox -M "$t/p.wav" "$t/p.wav" "$t/m2.wav"
sox -m "$t/m1.wav" "$t/m2.wav" -b 16 music.flac norm -3
