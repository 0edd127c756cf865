#!/usr/bin/env bash
# Runs the fuzz targets for as long as asked, both at once (one core each) or
# one of them, growing a working corpus under fuzz/corpus-work/ that is kept
# between runs and not committed. Findings land in fuzz/corpus-work/artifacts/.
#
# usage: fuzz/run_long.sh [SECONDS] [reader|gzip|engines|number|both]    (default: 900 both)
set -euo pipefail
source "$(dirname "$0")/common.sh"

seconds=${1:-900}
which=${2:-both}
case $which in
  reader) targets=(reader) ;;
  gzip) targets=(gzip) ;;
  engines) targets=(engines) ;;
  number) targets=(number) ;;
  both) targets=(reader engines) ;;
  *) echo "usage: fuzz/run_long.sh [SECONDS] [reader|gzip|engines|number|both]" >&2; exit 2 ;;
esac
[[ $seconds =~ ^[0-9]+$ ]] || { echo "fuzz/run_long.sh: SECONDS must be a whole number" >&2; exit 2; }

ensure_clang
bash "$root/fuzz/build.sh" "$build"

work=$root/fuzz/corpus-work
mkdir -p "$work/artifacts"
pids=()
for target in "${targets[@]}"; do
  mkdir -p "$work/$target"
  options_name="${target}_options[@]"
  "$build/${target}_fuzz" "${!options_name}" -max_total_time="$seconds" \
    -artifact_prefix="$work/artifacts/$target-" -print_final_stats=1 \
    "$work/$target" "$root/fuzz/corpus/$target" >"$work/$target.log" 2>&1 &
  pids+=($!)
  echo "fuzz: $target running for $seconds s, log $work/$target.log"
done

status=0
for i in "${!targets[@]}"; do
  target=${targets[$i]}
  if wait "${pids[$i]}"; then
    echo "fuzz: $target found nothing"
  else
    echo "fuzz: $target FAILED; see $work/$target.log and $work/artifacts/" >&2
    status=1
  fi
  grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$work/$target.log" || true
done
exit $status
