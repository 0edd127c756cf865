#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer, ASan and UBSan, apart from the
# CMake build (which may use any compiler).
#
# usage: fuzz/build.sh [BUILD_DIR]      (default: build/fuzz under the source tree)
# Environment: CXX (default clang++-14, else clang++), JOBS (default 2).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/build/fuzz}
if [[ -z ${CXX:-} ]]; then
  CXX=$(command -v clang++-14 || command -v clang++ || true)
fi
[[ -n $CXX ]] || { echo "fuzz/build.sh: clang++ not found" >&2; exit 2; }
jobs=${JOBS:-2}
version=$(sed -n 's/^project(seedmatch VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")

# The same arithmetic flags as the main build: results must not depend on how
# the fuzz build contracts products into sums.
common=(-std=c++20 -O1 -g -ffp-contract=off -Wall -Wextra -Wpedantic
        -fno-omit-frame-pointer -fno-sanitize-recover=all -I"$root/include" -I"$root/src")
lib_flags=(-fsanitize=fuzzer-no-link,address,undefined "-DSEEDMATCH_VERSION=\"$version\"")
target_flags=(-fsanitize=fuzzer,address,undefined -Werror)

mkdir -p "$out/obj"
sources=()
for dir in seed measure matching report driver; do
  for source in "$root"/src/$dir/*.cpp; do sources+=("$source"); done
done

# Library objects, rebuilt when their source or any header is newer.
objects=()
stale=()
for source in "${sources[@]}"; do
  rel=${source#"$root"/src/}
  object=$out/obj/${rel//\//_}.o
  objects+=("$object")
  if [[ ! -e $object || $source -nt $object ]] ||
     find "$root/src" "$root/include" -name '*.h' -newer "$object" | grep -q .; then
    stale+=("$source:$object")
  fi
done
if ((${#stale[@]})); then
  printf '%s\n' "${stale[@]}" |
    CXX=$CXX xargs -P "$jobs" -I{} bash -c 'src=${1%%:*}; obj=${1#*:}; shift
      echo "  CXX $src"; "$CXX" "$@" -c "$src" -o "$obj"' _ {} "${common[@]}" "${lib_flags[@]}"
fi

for target in reader_fuzz gzip_fuzz engines_fuzz number_fuzz; do
  echo "  LINK $out/$target"
  "$CXX" "${common[@]}" "${target_flags[@]}" "$root/fuzz/$target.cpp" "${objects[@]}" \
    -lz -o "$out/$target"
done
