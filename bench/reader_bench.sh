#!/bin/sh
# Reader throughput on a generated pair of seed files.
#
# usage: bench/reader_bench.sh [N] [RUNS]
#
# Builds the release preset, generates once a pair of N seeds (default 1000)
# with gen_seeds.py, cached under build/bench-data as run_bench.py caches it,
# then prints the median MB/s of the seed reader and of a bare std::from_chars
# loop over the same bytes, measured side by side, and the time of
# seedmatch-read on the pair.
set -eu
cd "$(dirname "$0")/.."
n=${1:-1000}
runs=${2:-11}

cmake --preset release >/dev/null
cmake --build --preset release -j2 --target seedmatch-read seedmatch-read-throughput >/dev/null

cache=build/bench-data
mkdir -p "$cache"
a=$cache/n${n}_1.seeds
b=$cache/n${n}_2.seeds
if [ ! -f "$a" ] || [ ! -f "$b" ] || [ bench/gen_seeds.py -nt "$a" ]; then
  python3 bench/gen_seeds.py "$n" "$a" "$b"
fi

echo "pair of $n seeds: $(wc -c <"$a") + $(wc -c <"$b") bytes"
build/release/bench/seedmatch-read-throughput --runs "$runs" "$a" "$b"

# The baseline program end to end, a fresh process each time.
times=""
i=0
while [ "$i" -lt "$runs" ]; do
  start=$(date +%s%N)
  build/release/bench/seedmatch-read "$a" "$b"
  end=$(date +%s%N)
  times="$times $(( (end - start) / 1000 ))"
  i=$((i + 1))
done
median=$(printf '%s\n' $times | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')
echo "seedmatch-read on the pair: median $median us over $runs runs"
