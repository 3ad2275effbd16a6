#!/bin/sh
# Compares the AacPacketStream that aurivane.dll made under wine
# (aac_encoder_host) with the native build's records of the same input.
# Identical bytes pass. Otherwise the records that differ are counted and
# both streams are decoded by the native program: they must give the same
# audio within 0.5 dB of level and 30 dB of SNR between the two decodings.
#
#   compare_aac_records.sh NATIVE_AURIVANE DIR    (DIR holds input.wav, dll.aps)
# Exits 77 (skipped) when the native program has not been built.
set -eu
cli=$1
dir=$2
if [ ! -x "$cli" ]; then
  echo "skipped: no native aurivane program at $cli (build the native tree first, or set AURIVANE_NATIVE_CLI)"
  exit 77
fi
"$cli" encode --codec he-aac --bitrate 32000 "$dir/input.wav" "$dir/native.aps"
if cmp -s "$dir/dll.aps" "$dir/native.aps"; then
  echo "identical: $(wc -c < "$dir/native.aps") bytes of records from the DLL under wine and from the native build"
  exit 0
fi
# Per-record comparison: the records are [length][access unit].
od -An -v -tu1 "$dir/dll.aps" | tr -s ' ' '\n' | grep . > "$dir/dll.txt"
od -An -v -tu1 "$dir/native.aps" | tr -s ' ' '\n' | grep . > "$dir/native.txt"
awk 'function read(file, rec,   n, i, line, s) {
       if ((getline n < file) <= 0) return "";
       s = n; for (i = 0; i < n; i++) { getline line < file; s = s " " line } return s }
     BEGIN { while (1) { a = read(ARGV[1]); b = read(ARGV[2]); if (a == "" && b == "") break;
             total++; if (a != b) { diff++; if (first == "") first = total - 1 } }
             printf "records differ: %d of %d (first: record %s)\n", diff, total, first; exit }' \
  "$dir/dll.txt" "$dir/native.txt"
"$cli" decode "$dir/dll.aps" "$dir/dll.wav" > /dev/null
"$cli" decode "$dir/native.aps" "$dir/native.wav" > /dev/null
rms() { sox "$@" -n stat 2>&1 | awk '/RMS +amplitude/ { print $3 }'; }
ref=$(rms "$dir/native.wav")
dll=$(rms "$dir/dll.wav")
diff=$(rms -m -v 1 "$dir/native.wav" -v -1 "$dir/dll.wav")
awk -v r="$ref" -v d="$dll" -v e="$diff" 'BEGIN {
  level = 20 * log(d / r) / log(10); snr = e > 0 ? 20 * log(r / e) / log(10) : 999;
  printf "decoded: level %+.2f dB, SNR of the DLL decoding against the native one %.1f dB\n", level, snr;
  exit !(level < 0.5 && level > -0.5 && snr >= 30) }'
