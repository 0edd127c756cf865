#!/bin/sh
# Reader throughput on a generated pair of seed files, plain and gzip.
#
# usage: bench/reader_bench.sh [N] [RUNS]
#
# Builds the release preset, generates once a pair of N seeds (default 2000)
# with gen_seeds.py, cached under build/bench-data as run_bench.py caches it,
# and gzip copies of it, then prints seedmatch-read-throughput's table (the
# reader beside a bare std::from_chars loop and beside zcat, side by side in
# each run) and the time of seedmatch-read on the pair, a fresh process each
# time.
#
# With BASELINE=DIR, DIR/seedmatch-read-throughput and DIR/seedmatch-read
# from an earlier build are run too, interleaved with the current ones, so
# that the two can be compared in one run (an older throughput program takes
# only the two plain files).
set -eu
cd "$(dirname "$0")/.."
n=${1:-2000}
runs=${2:-11}

cmake --preset release >/dev/null
cmake --build --preset release -j2 --target seedmatch-read seedmatch-read-throughput >/dev/null

cache=build/bench-data
mkdir -p "$cache"
a=$cache/n${n}_1.seeds
b=$cache/n${n}_2.seeds
if [ ! -f "$a" ] || [ ! -f "$b" ] || [ bench/gen_seeds.py -nt "$a" ]; then
  python3 bench/gen_seeds.py "$n" "$a.tmp" "$b.tmp"
  mv "$a.tmp" "$a"
  mv "$b.tmp" "$b"
fi
for f in "$a" "$b"; do
  if [ ! -f "$f.gz" ] || [ "$f" -nt "$f.gz" ]; then gzip -6 -c "$f" >"$f.gz"; fi
done

echo "pair of $n seeds: $(wc -c <"$a") + $(wc -c <"$b") bytes, gzip $(wc -c <"$a.gz") + $(wc -c <"$b.gz") bytes"
build/release/bench/seedmatch-read-throughput --runs "$runs" "$a" "$b" "$a.gz" "$b.gz"
if [ -n "${BASELINE:-}" ]; then
  echo "baseline ($BASELINE):"
  "$BASELINE/seedmatch-read-throughput" --runs "$runs" "$a" "$b"
fi

# seedmatch-read end to end, a fresh process each time; medians in ms.
elapsed() {
  start=$(date +%s%N)
  "$@"
  end=$(date +%s%N)
  echo $(( (end - start) / 1000 ))
}
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { printf "%.1f", v[int((NR + 1) / 2)] / 1000 }'; }
current="" gz="" old=""
i=0
while [ "$i" -lt "$runs" ]; do
  current="$current $(elapsed build/release/bench/seedmatch-read "$a" "$b")"
  gz="$gz $(elapsed build/release/bench/seedmatch-read "$a.gz" "$b.gz")"
  if [ -n "${BASELINE:-}" ]; then old="$old $(elapsed "$BASELINE/seedmatch-read" "$a" "$b")"; fi
  i=$((i + 1))
done
echo "seedmatch-read on the pair: median $(median $current) ms; on the gzip pair: $(median $gz) ms (over $runs runs)"
if [ -n "${BASELINE:-}" ]; then echo "baseline seedmatch-read on the pair: median $(median $old) ms"; fi
