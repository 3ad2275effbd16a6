#!/usr/bin/env bash
# G.729 Annex A speed against the independent fixed-point peer (bcg729).
#
#   bench/g729_speed.sh [build-dir] [runs]
#
# (a) Library calls: bench_g729 (ours and the peer's EncodeFrame/DecodeFrame
#     on the same material, one process), run `runs` times (default 5);
#     the minimum CPU time per frame of each is kept.
# (b) Whole processes on a speech corpus of about five minutes (the items of
#     tests/data/g729 looped): `aurivane encode --codec g729 in.wav out.g729`
#     and `aurivane decode --codec g729 in.g729 out.wav` against
#     g729_peer_driver, the peer's public API reading and writing raw files,
#     interleaved, minimum CPU time (user+sys) of `runs`. Both decoders decode
#     the frames our encoder made; every output goes to a file on one disk.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
runs=${2:-5}
cli="$build/tools/aurivane"
bench="$build/bench/bench_g729"
peer="$build/bench/g729_peer_driver"
for f in "$cli" "$bench" "$peer"; do
  [ -x "$f" ] || { echo "no $f; build aurivane_cli, bench_g729 and g729_peer_driver (bcg729 needed)" >&2; exit 1; }
done
command -v sox >/dev/null || { echo "sox is needed" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

min() { awk -v a="$1" -v b="$2" 'BEGIN {print (b == "" || a < b) ? a : b}'; }
ratio() { awk -v x="$1" -v y="$2" 'BEGIN {printf "%.2f", (y > 0 ? y : 0.0005) / (x > 0 ? x : 0.0005)}'; }

# --- (a) library calls --------------------------------------------------------
declare -A lib
for _ in $(seq "$runs"); do
  while IFS=, read -r name cpu_ns; do
    lib[$name]=$(min "$cpu_ns" "${lib[$name]:-}")
  done < <("$bench" --benchmark_min_time=0.3 --benchmark_format=csv 2>/dev/null |
           awk -F, '/^"BM_/ {gsub(/"/, "", $1); print $1 "," $4}')
done
echo "G.729 library calls (bench_g729, minimum CPU time per frame of $runs runs)"
printf '%-8s | %10s %10s | %9s\n' "" ours_us peer_us ours/peer
for op in Encode Decode; do
  o=${lib[BM_Ours${op}Frame]}; p=${lib[BM_Peer${op}Frame]}
  printf '%-8s | %10.2f %10.2f | %8sx\n' "$op" "$(awk -v t="$o" 'BEGIN{print t/1000}')" \
    "$(awk -v t="$p" 'BEGIN{print t/1000}')" "$(ratio "$o" "$p")"
done

# --- (b) whole processes ------------------------------------------------------
items=()
for f in "$here"/../tests/data/g729/*.wav; do
  sox "$f" -r 8000 -c 1 -b 16 "$tmp/item${#items[@]}.wav" && items+=("$tmp/item${#items[@]}.wav")
done
sox "${items[@]}" "$tmp/once.wav"
once=$(soxi -D "$tmp/once.wav")
loops=$(awk -v s="$once" 'BEGIN {n = int(300 / s); print (n > 1 ? n - 1 : 0)}')
sox "$tmp/once.wav" "$tmp/corpus.wav" repeat "$loops"
sox "$tmp/corpus.wav" -t raw -e signed -b 16 -L "$tmp/corpus.raw"
seconds=$(soxi -D "$tmp/corpus.wav")
"$cli" encode --codec g729 "$tmp/corpus.wav" "$tmp/corpus.g729" >/dev/null 2>&1

# CPU seconds (user+sys) of one whole process, from bash's rusage timer.
cpu() {
  local TIMEFORMAT='%3U %3S' t
  t=$( { time "$@" >/dev/null 2>&1; } 2>&1 ) || { echo "failed: $*" >&2; echo 999; return; }
  awk '{print $1 + $2}' <<<"$t"
}
oe=""; pe=""; od=""; pd=""
for _ in $(seq "$runs"); do
  oe=$(min "$(cpu "$cli" encode --codec g729 "$tmp/corpus.wav" "$tmp/ours.g729")" "$oe")
  pe=$(min "$(cpu "$peer" encode "$tmp/corpus.raw" "$tmp/peer.g729")" "$pe")
  od=$(min "$(cpu "$cli" decode --codec g729 "$tmp/corpus.g729" "$tmp/ours.wav")" "$od")
  pd=$(min "$(cpu "$peer" decode "$tmp/corpus.g729" "$tmp/peer.raw")" "$pd")
done
rt() { awk -v d="$seconds" -v t="$1" 'BEGIN {printf "%.0fx", d / (t > 0 ? t : 0.0005)}'; }
echo
printf 'G.729 whole processes on %.1f s of speech (minimum CPU time of %s runs)\n' "$seconds" "$runs"
printf '%-8s | %9s %9s | %9s %9s | %9s\n' "" ours_s peer_s ours_rt peer_rt ours/peer
printf '%-8s | %9.3f %9.3f | %9s %9s | %8sx\n' encode "$oe" "$pe" "$(rt "$oe")" "$(rt "$pe")" "$(ratio "$oe" "$pe")"
printf '%-8s | %9.3f %9.3f | %9s %9s | %8sx\n' decode "$od" "$pd" "$(rt "$od")" "$(rt "$pd")" "$(ratio "$od" "$pd")"
echo "(ratios above 1 mean ours is faster)"
