#!/usr/bin/env bash
# End-to-end geotagging benchmark, all tools side by side in one run, each on a
# fresh copy of the same photos: the real lumiv main window driven offscreen
# (e2e_driver: track, folder, Start, Yes to All), exiftool -geotag, gpscorrelate,
# the reference safe copier, and cp -r. Prints each one's time as a ratio to the
# safe copier and to cp, then checks with exiftool that every photo Lumivale
# wrote holds the position its lookup rule gives for the capture time.
#
#   bash bench/e2e.sh                 builds the corpus: a GPX of 100,000 one-second
#                                     points and 200 JPEGs of 3000 x 2000 (about 700 MB)
#   bash bench/e2e.sh --gpx FILE --photos FOLDER [--zone local | --zone "(UTC+01:00) Europe/Berlin" [--dst]]
#                                     the same on your own track and photos (only copies are written)
#
# Options: --work DIR (default /tmp/lumivale-e2e), --build DIR (default build/release),
# --rounds N (default 5, the median counts), --keep (keep the copies).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

work=/tmp/lumivale-e2e
build=build/release
rounds=5
gpx=
photos=
zone="(UTC+01:00) Europe/Berlin"
dst=1
keep=0
while (($#)); do
  case "$1" in
    --work) work=$2; shift ;;
    --build) build=$2; shift ;;
    --rounds) rounds=$2; shift ;;
    --gpx) gpx=$(realpath "$2"); shift ;;
    --photos) photos=$(realpath "$2"); shift ;;
    --zone) zone=$2; dst=0; shift ;;
    --dst) dst=1 ;;
    --keep) keep=1 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
if [[ -n "$gpx" && -z "$photos" || -z "$gpx" && -n "$photos" ]]; then
  echo "--gpx and --photos go together" >&2
  exit 2
fi

# Tools, from Debian's packages when missing.
bash scripts/deps.sh --bench

# The driver and the safe copier, built with optimisation.
[[ -f "$build/CMakeCache.txt" ]] || cmake --preset release -B "$build" >/dev/null
cmake --build "$build" -j2 --target e2e_driver track_load safe_copier >/dev/null
driver=$(find "$build" -name e2e_driver -type f -perm -u+x | head -1)
copier=$(find "$build" -name safe_copier -type f -perm -u+x | head -1)

# Camera clock against UTC, for the peers and the check.
if [[ "$zone" == local ]]; then
  shift_minutes=local
  peer_zone=$(date +%:z)  # gpscorrelate takes one offset; exiftool applies the local rules itself
  exiftool_zone=
  driver_zone=(local)
else
  if [[ ! "$zone" =~ ^\(UTC([+-])([0-9][0-9]):([0-9][0-9])\) ]]; then
    echo "a zone looks like \"(UTC+01:00) Europe/Berlin\"" >&2
    exit 2
  fi
  shift_minutes=$(( (10#${BASH_REMATCH[2]} * 60 + 10#${BASH_REMATCH[3]}) ))
  [[ ${BASH_REMATCH[1]} == - ]] && shift_minutes=$((-shift_minutes))
  ((dst)) && shift_minutes=$((shift_minutes + 60))
  abs=${shift_minutes#-}
  peer_zone=$(printf '%s%02d:%02d' "$([[ $shift_minutes == -* ]] && echo - || echo +)" $((abs / 60)) $((abs % 60)))
  exiftool_zone=$peer_zone
  driver_zone=("$zone")
  ((dst)) && driver_zone+=(+dst)
fi

mkdir -p "$work"
if [[ -z "$gpx" ]]; then
  # The corpus is made once per work folder and camera shift, then reused.
  corpus=$work/corpus-$shift_minutes
  if [[ ! -f "$corpus/done" ]]; then
    echo "Building the corpus in $corpus ..."
    rm -rf "$corpus"
    mkdir -p "$corpus/photos" "$corpus/bases"
    "$build/bench/track_load" --generate "$corpus/track.gpx" 100000
    # 200 capture times spread over the track (from 2012-06-01 00:00:00 UTC), on the camera's clock.
    for ((j = 0; j < 200; j++)); do
      utc=$((1338508800 + 100 + j * 498))
      if [[ $shift_minutes == local ]]; then
        echo "IMG_$(printf %04d $j).jpg $(date -d "@$utc" '+%Y:%m:%d %H:%M:%S')"
      else
        echo "IMG_$(printf %04d $j).jpg $(date -u -d "@$((utc + shift_minutes * 60))" '+%Y:%m:%d %H:%M:%S')"
      fi
    done >"$corpus/times.txt"
    colours=("#3a6ea5-#e8d8a0" "#2e7d32-#c5e1a5" "#6d4c41-#ffcc80" "#455a64-#b3e5fc")
    for b in 0 1 2 3; do
      /usr/bin/convert -size 3000x2000 "gradient:${colours[b]}" -seed $((b + 1)) -attenuate 0.45 \
        +noise Gaussian -quality 92 "$corpus/bases/base$b.jpg"
      exiv2 -q -M"set Exif.Image.Make Ascii Lumivale" -M"set Exif.Image.Model Ascii Bench $b" \
        -M"set Exif.Photo.ExposureTime Rational 1/250" "$corpus/bases/base$b.jpg"
    done
    n=0
    while read -r name date time; do
      cp "$corpus/bases/base$((n % 4)).jpg" "$corpus/photos/$name"
      exiv2 -q -M"set Exif.Photo.DateTimeOriginal Ascii $date $time" "$corpus/photos/$name"
      n=$((n + 1))
    done <"$corpus/times.txt"
    touch "$corpus/done"
  fi
  gpx=$corpus/track.gpx
  photos=$corpus/photos
fi
echo "Track: $gpx ($(grep -c '<trkpt' "$gpx") points); photos: $photos ($(ls "$photos" | wc -l) files, $(du -sh "$photos" | cut -f1)); camera clock: UTC $peer_zone"

fresh() {  # a fresh copy of the photos, written out before the clock starts
  rm -rf "$1"
  cp -r "$photos" "$1"
  sync
}
now() { date +%s.%N; }

declare -A times
tools=(cp safe_copier lumivale exiftool gpscorrelate)
run_tool() {  # tool folder
  case "$1" in
    cp) cp -r "$photos" "$2" ;;
    safe_copier) "$copier" "$2" >/dev/null ;;
    lumivale) QT_QPA_PLATFORM=offscreen "$driver" "$gpx" "$2" "${driver_zone[@]}" >"$work/driver.log" 2>"$work/driver.err" ||
                { cat "$work/driver.log" "$work/driver.err" >&2; return 1; } ;;
    exiftool) exiftool -q -q -overwrite_original -geotag "$gpx" "-geotime<\${DateTimeOriginal}$exiftool_zone" "$2" ;;
    gpscorrelate) gpscorrelate -g "$gpx" -z "$peer_zone" "$2"/* >/dev/null ;;
  esac
}
for ((r = 1; r <= rounds; r++)); do
  # Each round starts with another tool, so that none always runs first.
  for ((k = 0; k < ${#tools[@]}; k++)); do
    tool=${tools[(k + r - 1) % ${#tools[@]}]}
    folder=$work/run-$tool
    if [[ $tool == cp ]]; then rm -rf "$folder"; sync; else fresh "$folder"; fi
    start=$(now)
    run_tool "$tool" "$folder"
    sync
    end=$(now)
    times[$tool]+="$(awk -v a="$end" -v b="$start" 'BEGIN { printf "%.3f", a - b }') "
  done
done

median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
declare -A med
for tool in "${tools[@]}"; do med[$tool]=$(echo "${times[$tool]}" | median); done
echo
echo "| tool | seconds (median of $rounds) | x safe copier | x cp | all rounds |"
echo "|---|---|---|---|---|"
for tool in lumivale safe_copier exiftool gpscorrelate cp; do
  awk -v t="$tool" -v s="${med[$tool]}" -v c="${med[safe_copier]}" -v p="${med[cp]}" -v all="${times[$tool]}" \
    'BEGIN { printf "| %s | %.2f | %.2f | %.2f | %s|\n", t, s, s / c, s / p, all }'
done
echo
echo "Lumivale's run: $(tail -1 "$work/driver.log")"

echo
echo "Check of Lumivale's photos with exiftool:"
status=0
python3 bench/e2e_check.py "$gpx" "$work/run-lumivale" "$shift_minutes" || status=1
for tool in exiftool gpscorrelate; do
  echo -n "$tool (interpolates): "
  python3 bench/e2e_check.py "$gpx" "$work/run-$tool" "$shift_minutes" --peer
done
((keep)) || rm -rf "$work"/run-*
exit $status
