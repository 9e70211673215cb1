#!/usr/bin/env bash
# The rendering benchmark: folio against pdftoppm, mutool and the raw PDFium
# floor (render_floor: the same bitmaps, nothing written), on a long
# text-heavy A4 document and an image-heavy one. Both are made here from
# Debian documentation and artwork packages, fetched with apt-get download
# into bench/out (ignored by git).
#
#   bench/render.sh build/folio          # or: make bench-render
#   TEXT_PAGES=100 IMAGE_PAGES=14 bench/render.sh build/folio
#   RUN_DIR=/dev/shm/folio-bench bench/render.sh build/folio
#   DOCUMENTS_ONLY=1 bench/render.sh build/folio     # make the documents only
#
# Page files go to RUN_DIR (default bench/out/run, on the disk). Folio puts
# every page on the disk before it names it (two fsync calls a page), which
# the other tools do not; a RUN_DIR in memory shows the time without that.
set -euo pipefail
cd "$(dirname "$0")/.."
FOLIO=$(realpath "${1:-build/folio}")
FLOOR=$(dirname "$FOLIO")/bench/render_floor
TEXT_PAGES=${TEXT_PAGES:-60}
IMAGE_PAGES=${IMAGE_PAGES:-14}
OUT=bench/out
mkdir -p "$OUT/packages"
OUT=$(realpath "$OUT")
RUN_DIR=${RUN_DIR:-$OUT/run}

# The documents -------------------------------------------------------------
fetch() {  # package: unpacked into $OUT/packages/<package>
  local dir="$OUT/packages/$1"
  [ -d "$dir" ] && return
  (cd "$OUT/packages" && apt-get download -q "$1" >/dev/null 2>&1) || {
    echo "bench: cannot download $1 (run apt-get update first)" >&2
    exit 1
  }
  dpkg -x "$OUT/packages/$1"_*.deb "$dir"
}

# The LaTeX kernel's documented source: 1221 A4 pages of dense text.
fetch texlive-latex-base-doc
SOURCE2E=$(find "$OUT/packages/texlive-latex-base-doc" -name source2e.pdf | head -1)
TEXT="$OUT/text-$TEXT_PAGES.pdf"
[ -f "$TEXT" ] || qpdf --empty --pages "$SOURCE2E" "1-$TEXT_PAGES" -- "$TEXT"
# The same text in 5 and 500 pages, for memory against the page count.
[ -f "$OUT/text-5.pdf" ] || qpdf --empty --pages "$SOURCE2E" 1-5 -- "$OUT/text-5.pdf"
[ -f "$OUT/text-500.pdf" ] || qpdf --empty --pages "$SOURCE2E" 1-500 -- "$OUT/text-500.pdf"
# And the 5 pages a hundred times over: the same content, so that only what
# the page count itself costs can grow.
if [ ! -f "$OUT/repeat-500.pdf" ]; then
  repeats=()
  for _ in $(seq 100); do repeats+=("$OUT/text-5.pdf"); done
  qpdf --empty --pages "${repeats[@]}" -- "$OUT/repeat-500.pdf"
fi

# GNOME's desktop backgrounds, one page each, A4 wide: each JPEG carries the
# resolution that makes it 8.27 inches across, and folio's own images job
# turns them into the document.
IMAGES="$OUT/images-$IMAGE_PAGES.pdf"
if [ ! -f "$IMAGES" ]; then
  fetch gnome-backgrounds
  mkdir -p "$OUT/images"
  /usr/bin/python3 - "$OUT/packages/gnome-backgrounds" "$OUT/images" "$IMAGE_PAGES" <<'PY'
import pathlib, sys
from PIL import Image
source, target, count = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2]), int(sys.argv[3])
made = 0
for path in sorted(source.rglob("*.webp")):
    image = Image.open(path)
    if image.width < 1000 or made == count:
        continue
    dpi = round(image.width / 8.27)
    image.convert("RGB").save(target / f"{made:03d}.jpg", quality=90, dpi=(dpi, dpi))
    made += 1
PY
  tools/make-image-list "$OUT/images.list" "$OUT"/images/*.jpg
  "$FOLIO" --images "$OUT/images.list" --output "$IMAGES" >/dev/null
fi

# Other benchmarks run on the same documents: DOCUMENTS_ONLY=1 stops here.
[ -z "${DOCUMENTS_ONLY:-}" ] || exit 0

# The runs --------------------------------------------------------------------
# run NAME PAGES COMMAND...: wall seconds, peak KiB, user+system seconds.
measure() {
  /usr/bin/time -f '%e %M %U %S' -o "$OUT/time" "$@" >"$OUT/stdout" 2>"$OUT/stderr" || {
    echo "bench: failed: $*" >&2
    cat "$OUT/stderr" >&2
    exit 1
  }
  read -r wall peak user sys <"$OUT/time"
  echo "$wall $peak $(calc "$user + $sys")"
}

calc() { awk "BEGIN { print $1 }"; }
at_most() { awk "BEGIN { print ($1 <= $2) ? \"met\" : \"MISSED\" }"; }

bytes_in() { du -cb "$1" | tail -1 | cut -f1; }

# bench_document LABEL PDF FLOOR-TARGET [MUTOOL-TARGET]
bench_document() {
  local label=$1 pdf=$2 floor_target=$3 mutool_target=${4:-}
  local pages
  pages=$(qpdf --show-npages "$pdf")
  echo
  echo "== $label: $(basename "$pdf"), $pages pages =="
  printf '%-10s %10s %10s %10s %12s %10s\n' tool "ms/page" "cpu ms/pg" "vs folio" "bytes/page" "peak MiB"
  local dir="$RUN_DIR"
  declare -A wall cpu size peak
  for tool in folio pdftoppm mutool floor; do
    rm -rf "$dir" && mkdir -p "$dir"
    case $tool in
      folio) set -- "$FOLIO" --input "$pdf" --output "$dir" ;;
      pdftoppm) set -- pdftoppm -r 144 -png "$pdf" "$dir/page" ;;
      mutool) set -- mutool draw -q -r 144 -o "$dir/page-%d.png" "$pdf" ;;
      floor) set -- "$FLOOR" "$pdf" ;;
    esac
    read -r w p c < <(measure "$@")
    wall[$tool]=$w
    cpu[$tool]=$c
    peak[$tool]=$p
    size[$tool]=$(bytes_in "$dir")
    # The floor prints its milliseconds per page and the largest page's
    # pixel bytes.
    [ "$tool" = floor ] && read -r _ page_bytes <"$OUT/stdout"
  done
  for tool in folio pdftoppm mutool floor; do
    local per_page="-"
    [ "$tool" != floor ] && per_page=$((size[$tool] / pages))
    printf '%-10s %10.1f %10.1f %10.2f %12s %10.1f\n' "$tool" \
      "$(calc "1000 * ${wall[$tool]} / $pages")" \
      "$(calc "1000 * ${cpu[$tool]} / $pages")" \
      "$(calc "${wall[$tool]} / ${wall[folio]}")" "$per_page" \
      "$(calc "${peak[$tool]} / 1024")"
  done
  local vs_mutool vs_floor vs_bytes above_floor two_pages
  vs_mutool=$(calc "${wall[folio]} / ${wall[mutool]}")
  vs_floor=$(calc "${wall[folio]} / ${wall[floor]}")
  vs_bytes=$(calc "${size[folio]} / ${size[pdftoppm]}")
  above_floor=$(calc "(${peak[folio]} - ${peak[floor]}) / 1024")
  two_pages=$(calc "2 * $page_bytes / 1048576")
  printf 'folio time / floor:     %.2f (target <= %s: %s' "$vs_floor" "$floor_target" \
    "$(at_most "$vs_floor" "$floor_target")"
  [ "$floor_target" = 1.5 ] && printf '; stretch <= 1.25: %s' "$(at_most "$vs_floor" 1.25)"
  printf ')\n'
  if [ -n "$mutool_target" ]; then
    printf 'folio time / mutool:    %.2f (target <= %s: %s)\n' "$vs_mutool" "$mutool_target" \
      "$(at_most "$vs_mutool" "$mutool_target")"
  fi
  printf 'folio bytes / pdftoppm: %.2f (target <= 1.2: %s)\n' "$vs_bytes" \
    "$(at_most "$vs_bytes" 1.2)"
  printf 'folio peak - floor peak: %.1f MiB (target <= two pages, %.1f MiB: %s)\n' \
    "$above_floor" "$two_pages" "$(at_most "$above_floor" "$two_pages")"
  rm -rf "$dir"
}

echo "folio $FOLIO; page files in $RUN_DIR"
echo "processor time is user + system; the machine may be shared with other work."
echo "load at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
bench_document "text-heavy" "$TEXT" 1.5 0.35
bench_document "image-heavy" "$IMAGES" 1.1
echo "load at the end: $(cut -d' ' -f1-3 /proc/loadavg)"

echo
echo "== memory against page count (text) =="
for tool in folio floor; do
  for doc in text-5 text-500 repeat-500; do
    rm -rf "$RUN_DIR" && mkdir -p "$RUN_DIR"
    case $tool in
      folio) set -- "$FOLIO" --input "$OUT/$doc.pdf" --output "$RUN_DIR" ;;
      floor) set -- "$FLOOR" "$OUT/$doc.pdf" ;;
    esac
    read -r w p c < <(measure "$@")
    eval "peak_${doc/-/_}=$p"
    pages=${doc#*-}
    printf '%-6s %-10s: peak %.1f MiB, %.1f ms/page\n' "$tool" "$doc" "$(calc "$p / 1024")" \
      "$(calc "1000 * $w / $pages")"
  done
  for doc in text-500 repeat-500; do
    growth=$(calc "$(eval echo "\$peak_${doc/-/_}") / $peak_text_5")
    printf '%-6s peak %s / peak text-5: %.2f (target <= 1.10: %s)\n' "$tool" "$doc" "$growth" \
      "$(at_most "$growth" 1.10)"
  done
done
rm -rf "$RUN_DIR"
