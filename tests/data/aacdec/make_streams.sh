#!/bin/sh
# Regenerates the AAC-LC test streams of this folder with ffmpeg's native
# encoder (22050 Hz ADTS). Each item is built to make the encoder take one
# coding tool: transients for short blocks, correlated channels for M/S,
# panned highs for intensity, noise for PNS, decaying bursts for TNS (the
# encoder seldom takes TNS there: stereo_tns has short blocks and M/S, while
# aps_stereo_ms and mono_pns carry TNS). PNS is
# off except in mono_pns, since substituted noise is random in every decoder.
set -e
E="-hide_banner -loglevel error -y"
ffmpeg $E -f lavfi -i "aevalsrc=0.3*sin(2*PI*440*t)+if(lt(mod(t\,0.25)\,0.003)\,0.7*sin(2*PI*2500*t)\,0):s=22050:d=2" \
  -c:a aac -b:a 48k -ac 1 -aac_pns 0 mono_clicks.aac
ffmpeg $E -f lavfi -i "aevalsrc=0.4*sin(2*PI*330*t)*(1+0.3*sin(2*PI*3*t))+0.1*sin(2*PI*2000*t)|0.38*sin(2*PI*330*t)*(1+0.3*sin(2*PI*3*t))-0.1*sin(2*PI*2000*t):s=22050:d=2" \
  -c:a aac -b:a 64k -aac_ms 1 -aac_is 0 -aac_pns 0 stereo_ms.aac
ffmpeg $E -f lavfi -i "anoisesrc=a=0.3:c=pink:r=22050:d=2:s=1" -c:a aac -b:a 24k -ac 1 -aac_pns 1 mono_pns.aac
ffmpeg $E -f lavfi -i "aevalsrc=0.2*sin(2*PI*220*t)+0.15*sin(2*PI*6000*t+sin(2*PI*2*t))|0.2*sin(2*PI*220*t)+0.05*sin(2*PI*6000*t+sin(2*PI*2*t)):s=22050:d=2" \
  -c:a aac -b:a 32k -aac_is 1 -aac_ms 0 -aac_pns 0 stereo_is.aac
ffmpeg $E -f lavfi -i "aevalsrc=exp(-30*mod(t\,0.1))*0.6*sin(2*PI*1200*t)|exp(-25*mod(t+0.05\,0.1))*0.6*sin(2*PI*900*t):s=22050:d=2" \
  -c:a aac -b:a 64k -aac_tns 1 -aac_pns 0 stereo_tns.aac
ffmpeg $E -f lavfi -i "aevalsrc=0.3*sin(2*PI*500*t)|0.3*sin(2*PI*700*t):s=22050:d=1" \
  -c:a aac -b:a 64k -aac_coder fast -aac_ms 0 -aac_is 0 -aac_pns 0 -aac_tns 0 stereo_plain.aac
# Low-rate items whose raw data blocks all fit a packet-stream record
# (at most 255 bytes), for the AacDecoder filter.
ffmpeg $E -f lavfi -i "aevalsrc=0.3*sin(2*PI*440*t)*(1+0.5*sin(2*PI*1.5*t))+if(lt(mod(t\,0.25)\,0.003)\,0.5*sin(2*PI*2500*t)\,0):s=22050:d=3" \
  -c:a aac -b:a 24k -ac 1 -aac_pns 0 aps_mono_clicks.aac
ffmpeg $E -f lavfi -i "aevalsrc=0.3*sin(2*PI*330*t)+0.05*sin(2*PI*3000*t)|0.28*sin(2*PI*330*t)-0.05*sin(2*PI*3000*t):s=22050:d=3" \
  -c:a aac -b:a 32k -aac_ms 1 -aac_pns 0 aps_stereo_ms.aac
# A steady tone for the concealment levels.
ffmpeg $E -f lavfi -i "sine=f=1000:r=22050:d=3" -af volume=0.5 -c:a aac -b:a 24k -ac 1 -aac_pns 0 tone_mono.aac
