#!/usr/bin/env bash
# The images-to-PDF job against what a user would otherwise run, on the same
# files, in one run: folio, a Pillow pipeline (open, exif_transpose, flatten on
# white, save as PDF) and img2pdf (which copies JPEG data without decoding, so
# it does other work). Prints images per second, output bytes and peak memory,
# and for folio the share of its own work (decode, turn, flatten) in the job.
# Usage: bench/images.sh [FOLIO]   (make bench-images)
set -euo pipefail
cd "$(dirname "$0")/.."
FOLIO=$(realpath "${1:-build/folio}")
BUILD=$(dirname "$FOLIO")
OUT=bench/out/images
RUNS=${RUNS:-3}
mkdir -p "$OUT"

cmake --build "$BUILD" --target decode_bench >/dev/null
[ -d "$OUT/sets/same" ] || /usr/bin/python3 bench/make_image_sets.py "$OUT/sets"

# run NAME OUTPUT COMMAND... : best wall time of RUNS runs, and its peak RSS.
run() {
  local name=$1 output=$2
  shift 2
  best_s="" best_kb=0
  for _ in $(seq "$RUNS"); do
    rm -f "$output"
    if ! /usr/bin/time -f '%e %M' -o "$OUT/time" "$@" >"$OUT/$name.log" 2>&1; then
      best_s=failed
      return
    fi
    read -r s kb <"$OUT/time"
    if [ -z "$best_s" ] || awk "BEGIN{exit !($s < $best_s)}"; then best_s=$s; best_kb=$kb; fi
  done
}

report() {  # report TOOL IMAGES OUTPUT FOLIO_SECONDS
  local tool=$1 n=$2 output=$3 folio_s=$4
  if [ "$best_s" = failed ]; then
    printf '%-10s %s\n' "$tool" "refused: $(tail -1 "$OUT/$tool.log")"
    return
  fi
  awk -v t="$tool" -v s="$best_s" -v n="$n" -v b="$(stat -c %s "$output")" -v kb="$best_kb" \
    -v f="$folio_s" 'BEGIN { printf "%-10s %8.2f %10.3f %14.0f %10.1f %12.2f\n",
      t, n / s, s, b / n, kb / 1024, s / f }'
}

for set in jpeg png; do
  files=("$OUT/sets/$set"/*)
  n=${#files[@]}
  tools/make-image-list "$OUT/$set.list" "${files[@]}"
  echo "== $set: $n images ($(basename "${files[0]}") ...), best of $RUNS runs"
  printf '%-10s %8s %10s %14s %10s %12s\n' tool images/s seconds bytes/image "peak MiB" "time/folio"
  run folio "$OUT/folio.pdf" "$FOLIO" --images "$OUT/$set.list" --output "$OUT/folio.pdf"
  folio_s=$best_s
  report folio "$n" "$OUT/folio.pdf" "$folio_s"
  run pillow "$OUT/pillow.pdf" /usr/bin/python3 bench/pillow_pipeline.py "$OUT/pillow.pdf" "${files[@]}"
  report pillow "$n" "$OUT/pillow.pdf" "$folio_s"
  run img2pdf "$OUT/img2pdf.pdf" img2pdf "${files[@]}" -o "$OUT/img2pdf.pdf"
  report img2pdf "$n" "$OUT/img2pdf.pdf" "$folio_s"

  # Our own work: decodeImage alone on the same files (median processor time).
  own_ms=$("$BUILD/bench/decode/decode_bench" --runs 3 "${files[@]}" | awk 'NR > 1 { t += $3 } END { print t }')
  pillow_prep=$(grep prepare_seconds "$OUT/pillow.log" | awk '{ print $2 * 1000 }')
  awk -v own="$own_ms" -v job="$folio_s" -v n="$n" -v pp="$pillow_prep" 'BEGIN {
    printf "folio own work (decode, turn, flatten): %.1f ms/image, %.1f%% of the job; PDFium (build, compress, save): %.1f ms/image\n",
      own / n, 100 * own / (job * 1000), (job * 1000 - own) / n
    printf "Pillow decode + exif_transpose + flatten: %.1f ms/image (one run, wall time)\n", pp / n }'
  echo
done

echo "== peak memory against image count (same 1800x1200 JPEG)"
for count in 5 50; do
  files=("$OUT/sets/same"/*)
  tools/make-image-list "$OUT/same$count.list" "${files[@]:0:$count}"
  run folio "$OUT/folio.pdf" "$FOLIO" --images "$OUT/same$count.list" --output "$OUT/folio.pdf"
  echo "folio, $count images: peak $(awk -v kb="$best_kb" 'BEGIN{printf "%.1f", kb/1024}') MiB, $best_s s, $(stat -c %s "$OUT/folio.pdf") bytes"
done
