#!/usr/bin/env bash
# Geotagging a 4 MB JPEG (open, capture time, GPS, atomic save) against a safe
# copier and plain cp, interleaved in one run; prints the medians and ratios.
# The photo folder goes under TMPDIR (default /tmp): put that on the disk to measure.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD:-build/release}
cmake --preset release -B "$build" >/dev/null
cmake --build "$build" -j2 --target save_bench >/dev/null
json=$(mktemp)
trap 'rm -f "$json"' EXIT
"$build/bench/save_bench" --benchmark_repetitions="${REPETITIONS:-7}" \
  --benchmark_enable_random_interleaving=true --benchmark_format=json >"$json"
python3 - "$json" <<'PY'
import json, sys
runs = json.load(open(sys.argv[1]))["benchmarks"]
medians = [r for r in runs if r.get("aggregate_name") == "median"]
real = {r["run_name"].split("/")[0]: r["real_time"] for r in medians}
cpu = {r["run_name"].split("/")[0]: r["cpu_time"] for r in medians}
geotag, copier, cp = real["BM_Geotag"], real["BM_SafeCopier"], real["BM_PlainCp"]
print(f"median wall ms: geotag+save {geotag:.2f}, safe copier {copier:.2f}, cp {cp:.2f}")
print(f"geotag+save / safe copier = {geotag / copier:.2f} (goal <= 1.30)")
print(f"geotag+save / cp          = {geotag / cp:.2f}")
print(f"cpu ms in this process: geotag+save {cpu['BM_Geotag']:.2f}, safe copier {cpu['BM_SafeCopier']:.2f}")
PY
