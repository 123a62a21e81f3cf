#!/usr/bin/env bash
# Crash, disk-full and read-only soak of the geotagging run.
#   soak.sh [--rounds N] [--seed N] TOOLS
# TOOLS is the folder that holds soak_geotag and soak_photos. Each kill round makes a
# folder of JPEG, TIFF and raw photos (some with sidecars), starts a run over it, kills
# the run with SIGKILL at a random moment and checks that every photo and sidecar is
# either as it was or complete with the new position, and that no file a folder scan
# would list was left behind. Then one run under a file-size limit (every save fails:
# skipped, nothing changed) and two runs as an unprivileged user over a read-only folder
# and over read-only photos answered No (nothing changed). The short form runs in the
# test command; `--rounds 100` is the long form.
set -euo pipefail

rounds=3
seed=$RANDOM
while (($#)); do
  case $1 in
    --rounds) rounds=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    *) break ;;
  esac
done
if (($# != 1)); then
  echo "usage: soak.sh [--rounds N] [--seed N] TOOLS" >&2
  exit 2
fi
geotag=$1/soak_geotag
photos=$1/soak_photos
RANDOM=$seed
echo "soak: $rounds rounds, seed $seed"

work=$(mktemp -d "${TMPDIR:-/tmp}/lumivale-soak-XXXXXX")
cleanup() { chmod -R u+rwX "$work" 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
chmod 755 "$work"

failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}

# "written W skipped S" of a run's output
counts() { grep -o 'written [0-9]* skipped [0-9]*' "$1" || true; }

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# A full run first: every photo written, and how long a run takes.
dir=$work/full
"$photos" make "$dir" "$seed" >/dev/null
start=$(now_ms)
"$geotag" --answer yes "$dir/track.gpx" "$dir/photos" >"$dir/out" 2>&1 || fail "full run: $(cat "$dir/out")"
duration=$(($(now_ms) - start))
"$photos" check --all "$dir" >"$dir/check" 2>&1 || fail "full run: $(cat "$dir/check")"
echo "full run: $(counts "$dir/out") in $duration ms; $(cat "$dir/check")"
rm -rf "$dir"

total_checked=0 total_untouched=0 total_written=0 total_damaged=0 total_leftovers=0
for ((round = 1; round <= rounds; round++)); do
  dir=$work/round-$round
  "$photos" make "$dir" $((seed + round)) >/dev/null
  # Anywhere in the run, and now and then just after it.
  delay=$((RANDOM * 32768 + RANDOM))
  delay=$((delay % (duration + duration / 10 + 1)))
  "$geotag" --answer yes "$dir/track.gpx" "$dir/photos" >"$dir/out" 2>&1 &
  pid=$!
  sleep "$(printf '%d.%03d' $((delay / 1000)) $((delay % 1000)))"
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  if ! "$photos" check "$dir" >"$dir/check" 2>&1; then
    fail "round $round (killed after $delay ms): $(cat "$dir/check")"
    cp -r "$dir" "${TMPDIR:-/tmp}/lumivale-soak-failed-$seed-$round" 2>/dev/null || true
  fi
  read -r _ checked _ untouched _ written _ damaged _ leftovers < <(grep "^photos" "$dir/check") || true
  total_checked=$((total_checked + ${checked:-0}))
  total_untouched=$((total_untouched + ${untouched:-0}))
  total_written=$((total_written + ${written:-0}))
  total_damaged=$((total_damaged + ${damaged:-0}))
  total_leftovers=$((total_leftovers + ${leftovers:-0}))
  rm -rf "$dir"
done
echo "kill rounds: $rounds, photos and sidecars checked $total_checked, untouched $total_untouched," \
  "written $total_written, damaged $total_damaged, temporary files left $total_leftovers"

# Disk full: every save fails at the size limit (part way through the large photos, at once
# for the small ones and the sidecars), is counted as skipped and changes nothing. The run's
# output goes to a pipe, which the limit does not bind.
for what in large:512 small:0; do
  kind=${what%:*} limit=${what#*:}
  dir=$work/diskfull-$kind
  "$photos" make-diskfull "$dir" "$kind" >/dev/null
  out=$(
    ulimit -f "$limit"
    trap '' XFSZ
    exec "$geotag" --answer yes "$dir/track.gpx" "$dir/photos" 2>&1
  ) || fail "disk full at $limit kB: the run failed: $out"
  result=$(grep -o 'written [0-9]* skipped [0-9]*' <<<"$out" || true)
  [[ $result == "written 0 skipped 4" ]] || fail "disk full at $limit kB: $out"
  "$photos" check-untouched "$dir" >"$dir/check" 2>&1 || fail "disk full at $limit kB: $(cat "$dir/check")"
  echo "disk full at $limit kB, $kind photos: $result; $(cat "$dir/check")"
done

# Read-only, as an unprivileged user: root ignores permission bits.
user=()
if ((EUID == 0)); then user=(--user 65534); fi
for what in folder photos; do
  dir=$work/readonly-$what
  "$photos" make-readonly "$dir" "$what" >/dev/null
  if ((EUID == 0)); then chown -R 65534:65534 "$dir/photos"; fi
  "$geotag" --answer no "${user[@]}" "$dir/track.gpx" "$dir/photos" >"$dir/out" 2>&1 ||
    fail "read-only $what: the run failed: $(cat "$dir/out")"
  expected="written 0 skipped 5"
  [[ $what == photos ]] && expected="written 0 skipped 0"
  [[ $(counts "$dir/out") == "$expected" ]] || fail "read-only $what: $(cat "$dir/out")"
  "$photos" check-untouched "$dir" >"$dir/check" 2>&1 || fail "read-only $what: $(cat "$dir/check")"
  echo "read-only $what: $(counts "$dir/out"); $(cat "$dir/check")"
done

if ((failures)); then
  echo "soak: $failures failures (seed $seed)" >&2
  exit 1
fi
echo "soak: passed"
