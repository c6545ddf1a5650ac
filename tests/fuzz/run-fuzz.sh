#!/bin/bash
# Builds the bridge text fuzz target with clang (libFuzzer, AddressSanitizer, UBSan) in its own
# build folder and runs it for a bounded time. Not part of the default test suite.
#   tests/fuzz/run-fuzz.sh [seconds per run, default 120] [build folder, default build-fuzz]
set -euo pipefail
seconds=${1:-120}
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
build_dir=${2:-$source_dir/build-fuzz}

CC=clang CXX=clang++ cmake -S "$source_dir" -B "$build_dir" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTELVANA_FUZZ=ON -DTELVANA_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build_dir" --target text_fuzz -j2

corpus=$build_dir/fuzz-corpus/text
mkdir -p "$corpus"
# Seeds: a bridge envelope and a text with escapes, as UTF-16 after the key-length byte.
{ printf '\x04'; printf '{"handler":"x","data":"{\\"path\\":\\"C:\\\\\\\\a\\"}"}' | iconv -t UTF-16LE; } \
  >"$corpus/envelope"
{ printf '\x01'; printf '"a" :\t"x\\\\\\"y\\n' | iconv -t UTF-16LE; } >"$corpus/escapes"

"$build_dir/tests/core/text_fuzz" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
  -print_final_stats=1 "$corpus"
