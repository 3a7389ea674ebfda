#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The test suite under sanitizers, bounded for CI:
#  1. AddressSanitizer + UndefinedBehaviorSanitizer: the whole suite is built in build-asan and
#     run with ctest (the end-to-end suite only with SANITIZE_E2E=1; the package checks never,
#     as an instrumented build is not what gets packaged).
#  2. ThreadSanitizer: only the threaded tests (ctest label "threads", and the tests named in
#     TSAN_EXTRA_TESTS that run threads or several processes on shared files) are built in
#     build-tsan and run.
# Each phase prints how long it took. Fails when a build fails or a test reports a finding.
#
# Environment: ASAN_BUILD, TSAN_BUILD (build directories), SANITIZE_JOBS (build and test jobs,
# default 2), SANITIZE_PHASES ("asan tsan" by default), SANITIZE_E2E (1: run the end-to-end
# suite too), TSAN_EXTRA_TESTS.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

asan_build=${ASAN_BUILD:-build-asan}
tsan_build=${TSAN_BUILD:-build-tsan}
jobs=${SANITIZE_JOBS:-2}
phases=${SANITIZE_PHASES:-"asan tsan"}
tsan_extra=${TSAN_EXTRA_TESTS:-"test_registry test_ini_profile test_hardening_concurrency"}
supp="$root/tests/data/hardening"

failed=()
started=$(date +%s)
phase_start=$started
elapsed() {
    local now
    now=$(date +%s)
    echo "== $1 took $((now - phase_start))s (total $((now - started))s)"
    phase_start=$now
}

configure() { # build-dir sanitizer
    mkdir -p "$1"
    cmake -S . -B "$1" -G Ninja -DFB_SANITIZE="$2" -DFB_WERROR=ON \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo > "$1/configure.log" 2>&1 ||
        { cat "$1/configure.log" >&2; return 1; }
}

if [[ " $phases " == *" asan "* ]]; then
    echo "== AddressSanitizer + UndefinedBehaviorSanitizer in $asan_build"
    configure "$asan_build" address
    cmake --build "$asan_build" -j "$jobs"
    elapsed "asan build"
    exclude='package'
    [ "${SANITIZE_E2E:-0}" = 1 ] || exclude='e2e|package'
    # Leaks are findings too; Qt's and the font libraries' process-lifetime caches are not.
    ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:${ASAN_OPTIONS:-}" \
    UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}" \
    LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0:${LSAN_OPTIONS:-}" \
        ctest --test-dir "$asan_build" --output-on-failure --no-tests=error -j "$jobs" \
        -LE "$exclude" || failed+=("asan")
    elapsed "asan tests"
fi

if [[ " $phases " == *" tsan "* ]]; then
    echo "== ThreadSanitizer in $tsan_build"
    configure "$tsan_build" thread
    # ctest complains (and fails) about executables not built yet; only the names matter here.
    mapfile -t tests < <({ ctest --test-dir "$tsan_build" -N -L threads 2>/dev/null || true; } |
        sed -n 's/^ *Test *#[0-9]*: *//p')
    all=$({ ctest --test-dir "$tsan_build" -N 2>/dev/null || true; } |
        sed -n 's/^ *Test *#[0-9]*: *//p')
    for extra in $tsan_extra; do
        if grep -qx -- "$extra" <<< "$all" && ! printf '%s\n' "${tests[@]}" | grep -qx -- "$extra"; then
            tests+=("$extra")
        fi
    done
    if [ ${#tests[@]} -eq 0 ]; then
        echo "sanitize: no threaded tests found" >&2
        exit 1
    fi
    echo "threaded tests: ${tests[*]}"
    cmake --build "$tsan_build" -j "$jobs" --target "${tests[@]}"
    elapsed "tsan build"
    pattern="^($(IFS='|'; echo "${tests[*]}"))\$"
    # Debian's Qt and D-Bus libraries are not instrumented; their internal locking is unseen
    # by ThreadSanitizer, so reports that lie wholly inside them are suppressed.
    TSAN_OPTIONS="suppressions=$supp/tsan.supp:halt_on_error=1:second_deadlock_stack=1:die_after_fork=0:${TSAN_OPTIONS:-}" \
        ctest --test-dir "$tsan_build" --output-on-failure --no-tests=error -j "$jobs" \
        -R "$pattern" || failed+=("tsan")
    elapsed "tsan tests"
fi
if [ ${#failed[@]} -ne 0 ]; then
    echo "== sanitizers found faults (${failed[*]}) in $(($(date +%s) - started))s" >&2
    exit 1
fi
echo "== sanitizers passed in $(($(date +%s) - started))s"
