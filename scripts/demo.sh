#!/usr/bin/env bash
# Builds the native library and the aurivane program, then runs the main job
# on built-in examples. Needs no sound card.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

bash scripts/install-deps.sh --build
# A build folder of its own, so that the test builds never see this
# configuration (and this one never theirs), in whichever order they run.
mkdir -p out
cmake -S . -B out/demo-build -DCMAKE_BUILD_TYPE=Release -DAURIVANE_TESTS=OFF -DAURIVANE_BENCH=OFF \
  -DAURIVANE_FUZZ=OFF -DAURIVANE_SANITIZE= > out/demo-configure.log 2>&1 \
  || { cat out/demo-configure.log; exit 1; }
cmake --build out/demo-build --target aurivane_cli aurivane -j"$(nproc)" > out/demo-build.log 2>&1 \
  || { tail -40 out/demo-build.log; exit 1; }
AV="$ROOT/out/demo-build/tools/aurivane"
WORK="$ROOT/out/demo"
mkdir -p "$WORK"

echo "== aurivane classes"
"$AV" classes
echo
echo "== aurivane splitter-demo"
"$AV" splitter-demo

echo
echo "== sound card: recorder -> player on the virtual card (a 440 Hz tone in, a WAV out)"
"$AV" loopback --seconds 2 --device virtual --tone 440 --output "$WORK/loopback.wav"

echo
echo "== G.729 Annex A: encode and decode a built-in speech example"
SPEECH=tests/data/g729/us_male.wav
"$AV" encode --codec g729 "$SPEECH" "$WORK/speech.g729"
"$AV" decode --codec g729 "$WORK/speech.g729" "$WORK/speech_decoded.wav"

echo
echo "== voice loop: recorder -> G729Encoder -> G729Decoder -> player on the virtual card"
"$AV" voice-loop "$SPEECH" "$WORK/voice_loop.wav"

echo
echo "== AAC: decode a built-in AAC-LC stream"
"$AV" info tests/data/aacdec/stereo_plain.aac
"$AV" decode tests/data/aacdec/stereo_plain.aac "$WORK/aac_decoded.wav"

echo
echo "== HE-AAC v2: encode a built-in music example, show what the stream holds, decode it"
MUSIC=tests/data/aacenc/music.flac
"$AV" encode --codec he-aac --bitrate 32k "$MUSIC" "$WORK/music.aac"
"$AV" info "$WORK/music.aac"
"$AV" decode "$WORK/music.aac" "$WORK/music_decoded.wav"

echo
echo "demo outputs are in $WORK"
