#!/usr/bin/env bash
# Loading a large track, side by side in one run: Lumivale's loader (read, scan, shift, sort)
# against gpscorrelate and exiftool -geotag geotagging one small photo from the same GPX file.
# Prints wall time and peak memory of each (from /usr/bin/time -v) and the ratios.
#
#   bash bench/track_load.sh [POINTS]     POINTS defaults to 1000000 (a GPX of about 114 MB)
#
# Environment: BUILD (default build/release), WORK (default /tmp/lumivale-track-load).
set -euo pipefail
cd "$(dirname "$0")/.."
points=${1:-1000000}
build=${BUILD:-build/release}
work=${WORK:-/tmp/lumivale-track-load}

bash scripts/deps.sh --bench
[[ -f "$build/CMakeCache.txt" ]] || cmake --preset release -B "$build" >/dev/null
cmake --build "$build" --target track_load >/dev/null

mkdir -p "$work"
gpx=$work/track.gpx
"$build/bench/track_load" --generate "$gpx" "$points"
cat "$gpx" >/dev/null  # every tool starts with the file in the page cache

# A 16 x 16 JPEG, taken in the middle of the track (the track's times are UTC, so is the camera).
base64 -d >"$work/photo.jpg" <<'JPEG'
/9j/4AAQSkZJRgABAQEAZABkAAD/2wBDABALDA4MChAODQ4SERATGCgaGBYWGDEjJR0oOjM9PDkzODdASFxOQERXRTc4UG1RV19i
Z2hnPk1xeXBkeFxlZ2P/2wBDARESEhgVGC8aGi9jQjhCY2NjY2NjY2NjY2NjY2NjY2NjY2NjY2NjY2NjY2NjY2NjY2NjY2NjY2Nj
Y2NjY2NjY2P/wAARCAAQABADASIAAhEBAxEB/8QAHwAAAQUBAQEBAQEAAAAAAAAAAAECAwQFBgcICQoL/8QAtRAAAgEDAwIEAwUF
BAQAAAF9AQIDAAQRBRIhMUEGE1FhByJxFDKBkaEII0KxwRVS0fAkM2JyggkKFhcYGRolJicoKSo0NTY3ODk6Q0RFRkdISUpTVFVW
V1hZWmNkZWZnaGlqc3R1dnd4eXqDhIWGh4iJipKTlJWWl5iZmqKjpKWmp6ipqrKztLW2t7i5usLDxMXGx8jJytLT1NXW19jZ2uHi
4+Tl5ufo6erx8vP09fb3+Pn6/8QAHwEAAwEBAQEBAQEBAQAAAAAAAAECAwQFBgcICQoL/8QAtREAAgECBAQDBAcFBAQAAQJ3AAEC
AxEEBSExBhJBUQdhcRMiMoEIFEKRobHBCSMzUvAVYnLRChYkNOEl8RcYGRomJygpKjU2Nzg5OkNERUZHSElKU1RVVldYWVpjZGVm
Z2hpanN0dXZ3eHl6goOEhYaHiImKkpOUlZaXmJmaoqOkpaanqKmqsrO0tba3uLm6wsPExcbHyMnK0tPU1dbX2Nna4uPk5ebn6Onq
8vP09fb3+Pn6/9oADAMBAAIRAxEAPwB1FFFekcJ//9k=
JPEG
taken=$(date -u -d "2012-06-01 00:00:00 UTC + $((points / 2)) seconds" '+%Y:%m:%d %H:%M:%S')
exiftool -q -overwrite_original -DateTimeOriginal="$taken" "$work/photo.jpg"

# Runs a command under /usr/bin/time -v; leaves "seconds kilobytes" in $measured.
measure() {
  local stats=$work/stats
  TZ=UTC /usr/bin/time -v -o "$stats" "$@" >"$work/output" 2>&1 || { cat "$work/output"; exit 1; }
  measured=$(awk -F': ' '
    /Elapsed \(wall clock\)/ { n = split($2, t, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + t[i] }
    /Maximum resident set size/ { kb = $2 }
    END { print s, kb }' "$stats")
}

measure "$build/bench/track_load" "$gpx" "$taken"
read -r ours_s ours_kb <<<"$measured"
sed 's/^/  /' "$work/output"

cp "$work/photo.jpg" "$work/gpscorrelate.jpg"
measure gpscorrelate -g "$gpx" "$work/gpscorrelate.jpg"
read -r gc_s gc_kb <<<"$measured"

cp "$work/photo.jpg" "$work/exiftool.jpg"
measure exiftool -q -overwrite_original -geotag "$gpx" "-geotime<\${DateTimeOriginal}+00:00" "$work/exiftool.jpg"
read -r et_s et_kb <<<"$measured"

echo
echo "GPX of $points points, $(($(stat -c %s "$gpx") / 1000000)) MB; photo taken $taken"
printf '%-26s %10s %12s %14s %14s\n' "" "time (s)" "peak (MB)" "time / ours" "memory / ours"
row() { awk -v n="$1" -v s="$2" -v kb="$3" -v os="$ours_s" -v okb="$ours_kb" \
  'BEGIN { printf "%-26s %10.2f %12.0f %13.1fx %13.1fx\n", n, s, kb / 1024, s / os, kb / okb }'; }
row "Lumivale track_load" "$ours_s" "$ours_kb"
row "gpscorrelate" "$gc_s" "$gc_kb"
row "exiftool -geotag" "$et_s" "$et_kb"
for tool in gpscorrelate exiftool; do
  echo "$tool wrote: $(exiftool -s3 -GPSLatitude -GPSLongitude "$work/$tool.jpg" | paste -sd' ')"
done
awk -v os="$ours_s" -v okb="$ours_kb" -v gs="$gc_s" -v gkb="$gc_kb" 'BEGIN {
  ok = gs / os >= 10 && gkb / okb >= 5
  printf "Goal (a tenth of gpscorrelate'"'"'s time, a fifth of its memory): %s\n", ok ? "met" : "NOT met" }'
