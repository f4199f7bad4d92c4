# Shared by scripts/fuzz.sh and scripts/fuzz-replay.sh. Sourced, not run.

fuzz_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# fuzz_build DIR [CMAKE_OPTION...]: configures DIR for the libFuzzer targets (clang,
# AddressSanitizer, UndefinedBehaviorSanitizer) and builds them into DIR/fuzz/.
fuzz_build() {
  local dir=$1
  shift
  cmake -S "$fuzz_root" -B "$dir" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DIX_FUZZ=ON -DIX_BUILD_TESTS=OFF -DIX_BUILD_APP=OFF -DIX_BUILD_BENCH=OFF "$@" >/dev/null
  cmake --build "$dir" --target fuzzers -j "$(nproc)"
}
