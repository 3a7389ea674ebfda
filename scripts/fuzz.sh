#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the libFuzzer targets (clang, build-fuzz) and runs each for FUZZ_SECONDS seconds
# (the first argument, else $FUZZ_SECONDS, else 60), starting from its seed corpus in
# fuzz/corpus/<target>/. Fails on the first finding; the input that caused it is kept as
# build-fuzz/findings/<target>/crash-* (or leak-*, timeout-*, oom-*).
#
# Environment: FUZZ_BUILD (build directory, default build-fuzz), FUZZ_TARGETS (names to run,
# default all), CC/CXX (default clang-14/clang++-14), FUZZ_JOBS (build jobs, default 2).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

seconds=${1:-${FUZZ_SECONDS:-60}}
build=${FUZZ_BUILD:-build-fuzz}
targets=${FUZZ_TARGETS:-"registry_text ini_profile settings command_line wine_paths p2p_probes"}
export CC=${CC:-clang-14} CXX=${CXX:-clang++-14}

if ! command -v "$CXX" > /dev/null; then
    echo "fuzz: $CXX not found (install clang-14 and libclang-rt-14-dev)" >&2
    exit 2
fi

mkdir -p "$build"
cmake -S . -B "$build" -G Ninja -DFB_FUZZ=ON -DFB_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    > "$build/configure.log" 2>&1 || { cat "$build/configure.log" >&2; exit 2; }
build_targets=()
for target in $targets; do
    build_targets+=("fuzz_$target")
done
cmake --build "$build" -j "${FUZZ_JOBS:-2}" --target "${build_targets[@]}"

# The targets write their files under a scratch directory of their own; it goes when we do.
# A memory file system keeps their many fsyncs cheap.
base=${FUZZ_TMPDIR:-/dev/shm}
[ -d "$base" ] && [ -w "$base" ] || base=${TMPDIR:-/tmp}
scratch=$(mktemp -d "$base/fb-fuzz-run-XXXXXX")
trap 'rm -rf "$scratch"' EXIT

status=0
for target in $targets; do
    corpus="$scratch/corpus/$target"
    findings="$root/$build/findings/$target"
    mkdir -p "$corpus" "$findings" "$scratch/tmp"
    echo "== fuzz_$target for ${seconds}s"
    # New inputs go to the scratch corpus; the seeds in the repository stay as they are.
    if ! TMPDIR="$scratch/tmp" "$build/fuzz_$target" -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=2048 -max_len=8192 -print_final_stats=1 -artifact_prefix="$findings/" \
        "$corpus" "fuzz/corpus/$target" > "$scratch/$target.log" 2>&1; then
        tail -n 60 "$scratch/$target.log" >&2
        echo "fuzz: finding in $target; input kept in $findings/" >&2
        status=1
        break
    fi
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+ +DONE)' \
        "$scratch/$target.log" || true
done
exit $status
