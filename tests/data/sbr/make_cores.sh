#!/usr/bin/env bash
# Regenerates the AAC-LC cores that the SBR tests put their generated SBR/PS
# payloads into: 2 s of tones and noise at 22050 Hz, mono and stereo, low
# enough in rate that a block plus its SBR data fits a 255-byte packet
# record. PNS and intensity stereo are off so that decoders agree on the
# core to the bit (PNS noise is decoder-specific).
set -euo pipefail
cd "$(dirname "$0")"
src="sine=frequency=440:sample_rate=22050:duration=2,volume=0.3[a];
anoisesrc=color=pink:sample_rate=22050:amplitude=0.08:seed=7:duration=2[b];
sine=frequency=1250:sample_rate=22050:duration=2,volume=0.25[c];
anoisesrc=color=white:sample_rate=22050:amplitude=0.05:seed=9:duration=2[d];
[a][b]amix=inputs=2:normalize=0[l];[c][d]amix=inputs=2:normalize=0[r]"
common=(-c:a aac -aac_pns 0 -aac_is 0 -fflags +bitexact -flags:a +bitexact -f adts)
mono="sine=frequency=440:sample_rate=22050:duration=2,volume=0.3[a];
anoisesrc=color=pink:sample_rate=22050:amplitude=0.08:seed=7:duration=2[b];[a][b]amix=inputs=2:normalize=0"
ffmpeg -hide_banner -loglevel error -y -f lavfi -i "$mono" -ac 1 -b:a 16k "${common[@]}" core_mono_22k.aac
ffmpeg -hide_banner -loglevel error -y -f lavfi -i "$src;[l][r]join=inputs=2:channel_layout=stereo" \
  -b:a 16k "${common[@]}" core_stereo_22k.aac
