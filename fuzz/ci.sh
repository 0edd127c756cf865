#!/usr/bin/env bash
# Builds the fuzz targets and runs each for a fixed number of inputs from a
# fixed random seed over the committed corpus, so that every run does the same
# work. Fails on the first crash, leak, timeout or engine difference.
set -euo pipefail
source "$(dirname "$0")/common.sh"

reader_runs=${READER_RUNS:-800000}
gzip_runs=${GZIP_RUNS:-150000}
engines_runs=${ENGINES_RUNS:-60000}
number_runs=${NUMBER_RUNS:-3000000}

ensure_clang
bash "$root/fuzz/build.sh" "$build"

# Same work on every run: no rereading of the output directory on a timer, and
# no address-space randomisation, since comparison tracing records pointer
# values (without setarch, comparison tracing is left off instead).
fixed=()
same=(-reload=0 -use_cmp=0)
if setarch "$(uname -m)" -R true 2>/dev/null; then
  fixed=(setarch "$(uname -m)" -R)
  same=(-reload=0)
fi

# New inputs go to a scratch directory, never into the committed corpus.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

run() {
  local target=$1 runs=$2
  shift 2
  mkdir -p "$work/$target"
  echo "fuzz: $target, $runs runs"
  local start=$SECONDS
  "${fixed[@]}" "$build/${target}_fuzz" "$@" "${same[@]}" -seed=1 -runs="$runs" -artifact_prefix="$work/" \
    -print_final_stats=1 "$work/$target" "$root/fuzz/corpus/$target" >"$work/$target.log" 2>&1 || {
    cat "$work/$target.log" >&2
    echo "fuzz: $target failed" >&2
    exit 1
  }
  grep -E '^(#[0-9]+\s+DONE|stat::number_of_executed_units)' "$work/$target.log" || true
  echo "fuzz: $target passed in $((SECONDS - start)) s"
}

run reader "$reader_runs" "${reader_options[@]}"
run gzip "$gzip_runs" "${gzip_options[@]}"
run engines "$engines_runs" "${engines_options[@]}"
run number "$number_runs" "${number_options[@]}"
