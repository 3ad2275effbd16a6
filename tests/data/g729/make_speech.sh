#!/usr/bin/env bash
# Regenerates the speech items of the G.729 interoperability tests:
# synthetic speech, 8 kHz mono 16-bit, a few seconds each.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

say() {  # voice, text, output
  espeak-ng -v "$1" -s 150 -w "$tmp/raw.wav" "$2"
  sox -R "$tmp/raw.wav" -r 8000 -c 1 -b 16 "$3" gain -n -3
}

say en-us "The quick brown fox jumps over the lazy dog near the river bank." us_male.wav
say en-gb+f3 "Please leave your message after the tone, and we will call you back." gb_female.wav
say de "Bitte geben Sie jetzt die Nummer der Konferenz ein." de_male.wav

# Speech in white noise at roughly 15 dB SNR.
say en-us+f2 "Seven thirty one, four nine two, eight zero five." "$tmp/clean.wav"
len=$(soxi -D "$tmp/clean.wav")
sox -R -n -r 8000 -c 1 -b 16 "$tmp/noise.wav" synth "$len" whitenoise vol 0.04
sox -R -m "$tmp/clean.wav" "$tmp/noise.wav" -b 16 us_female_noisy.wav

# Quiet speech about 40 dB below the others, over a near-silent start.
say en-us+m3 "Hello, is anybody there?" "$tmp/loud.wav"
sox -R -n -r 8000 -c 1 -b 16 "$tmp/pad.wav" trim 0 0.5
sox -R "$tmp/pad.wav" "$tmp/loud.wav" -b 16 low_level.wav gain -40
