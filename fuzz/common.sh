# Shared by the fuzz scripts: where things are and the options of each target.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build/fuzz}

# Bounds that turn a runaway into a finding: a reader that sizes memory by the
# counts a file claims hits the malloc limit, a hang hits the timeout.
reader_options=(-max_len=4096 -timeout=10 -rss_limit_mb=1024 -malloc_limit_mb=64
                -dict="$root/fuzz/reader.dict")
# A gzip file of max_len bytes inflates to about a thousand times that.
gzip_options=(-max_len=4096 -timeout=10 -rss_limit_mb=1024 -malloc_limit_mb=64
              -dict="$root/fuzz/reader.dict")
engines_options=(-max_len=2048 -timeout=10 -rss_limit_mb=1024)
number_options=(-max_len=64 -timeout=10 -rss_limit_mb=1024 -dict="$root/fuzz/reader.dict")

# Stops with a hint when clang's fuzzer runtime is missing (.ci/run installs it).
ensure_clang() {
  local probe='extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }'
  local cxx=${CXX:-$(command -v clang++-14 || command -v clang++ || echo clang++)}
  if ! echo "$probe" | "$cxx" -x c++ -fsanitize=fuzzer - -o /dev/null 2>/dev/null; then
    echo "fuzz: clang++ with libFuzzer is needed (Debian packages clang, libclang-rt-dev)" >&2
    exit 2
  fi
}
