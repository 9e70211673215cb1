#!/usr/bin/env bash
# Our own work per image against Pillow's, on the same camera-size files:
# decodeImage (decode, turn upright, flatten onto white) beside Pillow's
# open, exif_transpose and flatten. Usage: bench/decode.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${RUNS:-20}

cmake --build "$build" --target decode_bench >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 bench/decode_pillow.py make "$work"
files=("$work/photo-o1.jpg" "$work/photo-o6.jpg" "$work/translucent.png")

echo "folio decodeImage, median processor time of $runs runs:"
"$build/bench/decode/decode_bench" --runs "$runs" "${files[@]}"
echo
pillow=$(/usr/bin/python3 -c "import PIL; print(PIL.__version__)")
echo "Pillow $pillow, median processor time of $runs runs:"
/usr/bin/python3 bench/decode_pillow.py time --runs "$runs" "${files[@]}"
