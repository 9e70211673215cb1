#!/usr/bin/env bash
# The images-to-PDF job against what a user would otherwise run, on the same
# files, in one go: folio, folio as it was before it read and decoded images
# on worker threads (today), folio as it was before JPEGs were placed as stored
# (every image decoded: the decode path), img2pdf --rotation=ifvalid (copies
# JPEG data) and a Pillow pipeline (open, exif_transpose, flatten on white,
# save as PDF); both earlier revisions are built from git under bench/out.
# Each round runs every tool once in turn, so that the machine's load falls on
# all alike; each tool's best round counts; folio also runs on one core. Then
# peak memory against the number of images, on all cores and on one. Every
# figure is printed against its target.
# Usage: bench/images.sh [FOLIO]   (make bench-images; RUNS=3 rounds)
set -euo pipefail
cd "$(dirname "$0")/.."
FOLIO=$(realpath "${1:-build/folio}")
BUILD=$(dirname "$FOLIO")
OUT=bench/out/images
RUNS=${RUNS:-3}
# The decode path: the images job at the last revision that decoded every image.
BASE_REV=${BASE_REV:-e735ffa}
# Today: the images job at the last revision before it read and decoded the next
# images on worker threads while PDFium builds the current page.
TODAY_REV=${TODAY_REV:-4842a1c}
# The cores this script may use (nproc follows taskset), against one core.
CORES=$(nproc)
mkdir -p "$OUT" bench/out/packages

fetch() {  # package: unpacked into bench/out/packages/<package>
  local dir="bench/out/packages/$1"
  [ -d "$dir" ] && return
  (cd bench/out/packages && apt-get download -q "$1" >/dev/null 2>&1) || {
    echo "bench: cannot download $1 (run apt-get update first)" >&2
    exit 1
  }
  dpkg -x bench/out/packages/"$1"_*.deb "$dir"
}
fetch ukui-wallpapers
fetch lomiri-wallpapers-20.04
[ -d "$OUT/sets/pngphotos" ] || /usr/bin/python3 bench/make_image_sets.py bench/out/packages "$OUT/sets"

# build_rev REV NAME : folio as it was at git revision REV, built once into
# bench/out/NAME/build and rebuilt only when REV names another commit.
build_rev() {
  local rev dir="bench/out/$2"
  rev=$(git rev-parse --verify "$1^{commit}")
  [ -x "$dir/build/folio" ] && [ "$(cat "$dir/revision" 2>/dev/null)" = "$rev" ] && return
  rm -rf "$dir" && mkdir -p "$dir/src"
  git archive "$rev" | tar -x -C "$dir/src"
  # Only folio is built: an earlier revision's benchmark helpers may need
  # libraries this machine no longer has (libspng before libdeflate).
  find "$dir/src/bench" -name CMakeLists.txt -exec truncate -s 0 {} +
  if ! { cmake -S "$dir/src" -B "$dir/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DFOLIO_TESTS=OFF -DPDFIUM_LIBRARY="$(realpath .deps/pdfium/lib/libpdfium.so)" &&
    cmake --build "$dir/build" --target folio; } >"$dir/build.log" 2>&1; then
    # The decode path's BMP reader was stb_image (libstb-dev, which
    # scripts/setup installs).
    echo "bench: cannot build revision $1 (see $dir/build.log):" >&2
    grep -m3 -i 'error' "$dir/build.log" >&2
    exit 1
  fi
  echo "$rev" >"$dir/revision"
}
build_rev "$BASE_REV" base
build_rev "$TODAY_REV" today
BASE=$(realpath -e bench/out/base/build/folio)
TODAY=$(realpath -e bench/out/today/build/folio)
cmake --build "$BUILD" --target page_diff >/dev/null

tool_run() {  # tool LIST OUTPUT FILES...
  local tool=$1 list=$2 output=$3
  shift 3
  case $tool in
    folio) "$FOLIO" --images "$list" --output "$output" ;;
    # On one core the reading ahead overlaps nothing: what the pipeline gains.
    folio1) taskset -c 0 "$FOLIO" --images "$list" --output "$output" ;;
    decode) "$BASE" --images "$list" --output "$output" ;;
    today) "$TODAY" --images "$list" --output "$output" ;;
    img2pdf) img2pdf --rotation=ifvalid "$@" -o "$output" ;;
    pillow) /usr/bin/python3 bench/pillow_pipeline.py "$output" "$@" ;;
  esac
}

declare -A best_s best_kb best_cpu max_kb
# paired SET TOOL... : RUNS rounds over the set's files, every tool once a round.
# Wall time is read from the shell's clock in microseconds: folio takes about a
# tenth of a second on the JPEG set, where time's hundredths would be a tenth of
# the figure. max_kb keeps the highest peak of all rounds, for memory bounds.
paired() {
  local set=$1
  shift
  local files=("$OUT/sets/$set"/*)
  tools/make-image-list "$OUT/$set.list" "${files[@]}"
  for tool in "$@"; do best_s[$tool]="" max_kb[$tool]=0; done
  for _ in $(seq "$RUNS"); do
    for tool in "$@"; do
      rm -f "$OUT/$tool.pdf"
      start=$EPOCHREALTIME
      if ! /usr/bin/time -f '%M %U %S' -o "$OUT/time" \
        bash -c "$(declare -f tool_run); FOLIO='$FOLIO' BASE='$BASE' TODAY='$TODAY' tool_run \"\$@\"" _ \
        "$tool" "$OUT/$set.list" "$OUT/$tool.pdf" "${files[@]}" >"$OUT/$tool.log" 2>&1; then
        echo "$tool failed: $(tail -1 "$OUT/$tool.log")" >&2
        exit 1
      fi
      s=$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN{print b - a}')
      read -r kb user sys <"$OUT/time"
      if [ "$kb" -gt "${max_kb[$tool]}" ]; then max_kb[$tool]=$kb; fi
      if [ -z "${best_s[$tool]}" ] || awk "BEGIN{exit !($s < ${best_s[$tool]})}"; then
        best_s[$tool]=$s
        best_kb[$tool]=$kb
        best_cpu[$tool]=$(awk -v u="$user" -v s="$sys" 'BEGIN{print u + s}')
        cp "$OUT/$tool.pdf" "$OUT/$set-$tool.pdf"
      fi
    done
  done
  printf '%-8s %9s %12s %10s %11s %12s\n' tool seconds "PDF bytes" "peak MiB" "time/folio" \
    "CPU seconds"
  for tool in "$@"; do
    awk -v t="$tool" -v s="${best_s[$tool]}" -v b="$(stat -c %s "$OUT/$set-$tool.pdf")" \
      -v kb="${best_kb[$tool]}" -v f="${best_s[folio]}" -v c="${best_cpu[$tool]}" \
      'BEGIN { printf "%-8s %9.3f %12d %10.1f %11.2f %12.2f\n", t, s, b, kb / 1024, s / f, c }'
  done
}

verdict() {  # verdict WHAT VALUE OP TARGET
  awk -v w="$1" -v v="$2" -v op="$3" -v t="$4" 'BEGIN {
    ok = (op == "<=") ? v <= t + 1e-9 : (op == ">=") ? v >= t - 1e-9 : 0
    printf "  %-58s %10.3f  target %s %-6s %s\n", w, v, op, t, ok ? "met" : "MISSED" }'
}

info() {  # info WHAT VALUE : a figure shown for what it tells, with no target
  awk -v w="$1" -v v="$2" 'BEGIN { printf "  %-58s %10.3f  (information)\n", w, v }'
}

peak_kb() {  # peak_kb all|one LIST OUTPUT : folio once, on every core or on one; prints peak KiB
  local pin=()
  [ "$1" = one ] && pin=(taskset -c 0)
  /usr/bin/time -f '%M' -o "$OUT/time" "${pin[@]}" "$FOLIO" --images "$2" --output "$3" >/dev/null
  cat "$OUT/time"
}

echo "load before: $(uptime)"
echo

jpegs=("$OUT/sets/jpeg"/*)
echo "== JPEG set: ${#jpegs[@]} camera-like photos of 1800 x 1200, EXIF orientations 0 to 8," \
  "$(du -cb "${jpegs[@]}" | tail -1 | cut -f1) bytes; best of $RUNS paired rounds"
echo "(folio1: folio on one core, taskset -c 0; the others on all $CORES cores)"
paired jpeg folio folio1 today decode img2pdf pillow
read -r pages size_diff channel_diff < <("$BUILD/bench/page_diff" "$OUT/jpeg-folio.pdf" "$OUT/jpeg-decode.pdf" 1800)
verdict "folio time / img2pdf time" \
  "$(awk -v a="${best_s[folio]}" -v b="${best_s[img2pdf]}" 'BEGIN{print a / b}')" "<=" 0.35
info "today's time / folio time" \
  "$(awk -v a="${best_s[today]}" -v b="${best_s[folio]}" 'BEGIN{print a / b}')"
info "folio time on one core / on all $CORES cores" \
  "$(awk -v a="${best_s[folio1]}" -v b="${best_s[folio]}" 'BEGIN{print a / b}')"
verdict "folio output / sum of the input files" \
  "$(awk -v a="$(stat -c %s "$OUT/jpeg-folio.pdf")" -v b="$(du -cb "${jpegs[@]}" | tail -1 | cut -f1)" 'BEGIN{print a / b}')" "<=" 1.02
verdict "largest channel difference from the decode path ($pages pages)" "$channel_diff" "<=" 2
verdict "largest page size difference from the decode path, points" "$size_diff" "<=" 0
echo

echo "== PNG set: 10 photographs of 1200 x 900 with alpha; best of $RUNS paired rounds"
paired png folio folio1 today decode img2pdf pillow
verdict "today's time / folio time" \
  "$(awk -v a="${best_s[today]}" -v b="${best_s[folio]}" 'BEGIN{print a / b}')" ">=" 1.6
# Processor time counts every thread, so it shows what the overlap costs rather
# than what it gains; the machine's load disturbs it less than wall time.
info "today's processor time / folio's" \
  "$(awk -v a="${best_cpu[today]}" -v b="${best_cpu[folio]}" 'BEGIN{print a / b}')"
verdict "folio time / the decode path's time" \
  "$(awk -v a="${best_s[folio]}" -v b="${best_s[decode]}" 'BEGIN{print a / b}')" "<=" 1.10
info "folio's processor time / the decode path's" \
  "$(awk -v a="${best_cpu[folio]}" -v b="${best_cpu[decode]}" 'BEGIN{print a / b}')"
info "folio time on one core / on all $CORES cores" \
  "$(awk -v a="${best_s[folio1]}" -v b="${best_s[folio]}" 'BEGIN{print a / b}')"
# The job holds at most one image being read per core besides PDFium's
# document: its pixels as decoded and as flattened (4 and 3 bytes a pixel:
# 1200 x 900 x 7 bytes here) and its page once compressed (a tenth of the
# set's output). So running on every core may add at most one such image per
# extra core to the peak of a single core's run.
echo "  folio peak, highest of the rounds: all $CORES cores $((max_kb[folio] / 1024)) MiB," \
  "one core $((max_kb[folio1] / 1024)) MiB"
verdict "peak on all cores - peak on one core, MiB" \
  "$(awk -v a="${max_kb[folio]}" -v b="${max_kb[folio1]}" 'BEGIN{print (a - b) / 1024}')" "<=" \
  "$(awk -v c="$CORES" -v p="$(stat -c %s "$OUT/png-folio.pdf")" \
    'BEGIN{printf "%.1f", (c - 1) * (1200 * 900 * 7 + p / 10) / 1048576}')"
echo

big="$OUT/sets/big/photo.jpg"
big_bytes=$(stat -c %s "$big")
echo "== memory: one 4000 x 3000 photo ($big_bytes bytes) listed 5 and 500 times"
for count in 5 500; do
  list=()
  for _ in $(seq "$count"); do list+=("$big"); done
  tools/make-image-list "$OUT/big$count.list" "${list[@]}"
done
# Each page reads its JPEG from the file at the save, so the peak should not
# grow with the count; on one core as on all, where images are read ahead.
for cores in all one; do
  kb5=$(peak_kb $cores "$OUT/big5.list" "$OUT/big.pdf")
  kb500=$(peak_kb $cores "$OUT/big500.list" "$OUT/big.pdf")
  where=$([ $cores = one ] && echo "one core" || echo "all $CORES cores")
  echo "  folio peak on $where: 5 images $((kb5 / 1024)) MiB, 500 images $((kb500 / 1024)) MiB"
  verdict "peak for 500 / peak for 5, $where" \
    "$(awk -v a="$kb5" -v b="$kb500" 'BEGIN{print b / a}')" "<=" 1.25
done
rm -f "$OUT/big.pdf"
echo

pngs=("$OUT/sets/pngphotos"/*)
echo "== memory: photographs of 1200 x 800 as PNG, 5 and 50"
tools/make-image-list "$OUT/png5.list" "${pngs[@]:0:5}"
tools/make-image-list "$OUT/png50.list" "${pngs[@]:0:50}"
kb5=$(peak_kb all "$OUT/png5.list" "$OUT/png5.pdf")
kb50=$(peak_kb all "$OUT/png50.list" "$OUT/png50.pdf")
page_bytes=$(awk -v a="$(stat -c %s "$OUT/png5.pdf")" -v b="$(stat -c %s "$OUT/png50.pdf")" 'BEGIN{print (b - a) / 45}')
echo "  folio peak: 5 images $((kb5 / 1024)) MiB, 50 images $((kb50 / 1024)) MiB; a page takes $(printf %.0f "$page_bytes") bytes of the output"
verdict "peak growth per image / the page's compressed size" \
  "$(awk -v a="$kb5" -v b="$kb50" -v p="$page_bytes" 'BEGIN{print (b - a) * 1024 / 45 / p}')" "<=" 1.1
echo
echo "load after: $(uptime)"
