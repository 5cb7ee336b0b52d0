#!/usr/bin/env bash
# One entry point for set-up, building, testing and running Quillmoor on Debian.
#   ./build.sh test   install what is missing, build everything, run every test
#   ./build.sh run    install what is missing, build the plug-in, install it and start the instrument
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$(pwd)
JOBS=$(nproc)
cmd=${1:-test}
# Every build goes through ccache; paths under the checkout are hashed relative to it, and the
# build folder is left out of the hash of objects with debug information, so other clones share the
# cache. The precompiled headers need the sloppiness to be cached at all.
export CCACHE_BASEDIR="$ROOT"
export CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-1}"
export CCACHE_SLOPPINESS="${CCACHE_SLOPPINESS:-pch_defines,time_macros,include_file_mtime,include_file_ctime}"

configure_build() { # dir, extra cmake args... (QM_TARGETS: build only these targets)
    local dir=$1; shift
    # A folder configured for another generator (make, before) is started afresh.
    [ ! -f "$dir/CMakeCache.txt" ] || grep -q '^CMAKE_GENERATOR:INTERNAL=Ninja$' "$dir/CMakeCache.txt" || rm -rf "$dir"
    cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache "$@" >"$dir.configure.log" 2>&1 \
        || { cat "$dir.configure.log"; return 1; }
    # shellcheck disable=SC2086
    cmake --build "$dir" -j "$JOBS" ${QM_TARGETS:+--target $QM_TARGETS}
}

case "$cmd" in
test)
    # A failing stage stops the builds and fuzzers still running in the background.
    trap 'kill $(jobs -p) 2>/dev/null || true' EXIT
    # Without a display the framework connects to :0, which on a shared machine may be another job's
    # short-lived virtual server: the builds (the LV2 description is written by running the plug-in)
    # and the tests that need none must not depend on it. The editor tests start servers of their own.
    export DISPLAY="${DISPLAY:-:none}"
    bash scripts/setup.sh
    mkdir -p build
    # The plug-in, the processor, host and editor tests and the corpus replay, at release settings
    # (the engine tests run under the sanitizers below). The framework's largest units set the pace
    # of the whole run, so it starts first and builds beside the sanitizer stages.
    configure_build build/release -DQM_BUILD_ENGINE_TESTS=OFF >build/release.log 2>&1 &
    release_pid=$!
    # Fuzzers for a bounded time, all at once, starting from the committed corpus. Their build is small;
    # they run in the background through the stages below, and their report comes at the end.
    fuzz_pid=""
    if compgen -G "tests/fuzz/fuzz_*.cpp" >/dev/null; then
        CC=clang CXX=clang++ configure_build build/fuzz -DQM_FUZZ=ON -DQM_SANITIZE=address,undefined \
            -DQM_BUILD_PLUGIN=OFF -DQM_BUILD_TESTS=OFF -DQM_BUILD_BENCH=OFF
        bash scripts/run-fuzzers.sh build/fuzz >build/fuzz.log 2>&1 &
        fuzz_pid=$!
    fi
    # The stages below yield the cores to the release build and the fuzzers, so that the framework's
    # largest units build at full speed while the rest fills what they leave.
    renice -n 10 -p $$ >/dev/null
    # The engine and the LV2 bundle under AddressSanitizer and UndefinedBehaviorSanitizer: the engine's
    # tests, and the bundle driven through lilv as hosts drive it, plug-in and host both instrumented.
    # In the bundle, memory faults and undefined behaviour are looked for in our code and the format
    # wrapper: the rest of the framework is built uninstrumented. The library's tests (installing banks
    # and walking libraries of any name and shape) run here too, where the framework's String faults show.
    configure_build build/asan -DQM_SANITIZE=address,undefined -DQM_SANITIZE_FRAMEWORK=OFF \
        -DQM_PLUGIN_FORMATS=LV2 -DQM_BUILD_PLUGIN_TESTS=OFF -DQM_BUILD_BENCH=OFF
    (cd build/asan && ctest -L "engine|lv2-host|library" --no-tests=error --output-on-failure -j "$JOBS" --timeout 600)
    # Tests that exercise several threads, under ThreadSanitizer.
    QM_TARGETS=$(find tests -name "test_*_mt.cpp" -exec basename {} .cpp \; | tr "\n" " ") \
        configure_build build/tsan -DQM_SANITIZE=thread -DQM_BUILD_PLUGIN=OFF -DQM_BUILD_BENCH=OFF
    (cd build/tsan && ctest -L threads --no-tests=error --output-on-failure -j "$JOBS" --timeout 600)
    # The engine and its tests built by Clang as well: the vector code relies on alignment and
    # aliasing attributes that GCC and Clang read differently, so a fault may show under one only.
    CC=clang CXX=clang++ configure_build build/clang -DQM_BUILD_PLUGIN=OFF -DQM_BUILD_BENCH=OFF
    (cd build/clang && ctest -L engine --no-tests=error --output-on-failure -j "$JOBS" --timeout 600)
    if ! wait "$release_pid"; then cat build/release.log; exit 1; fi
    tail -n 1 build/release.log
    if [ -n "$fuzz_pid" ]; then
        if ! wait "$fuzz_pid"; then cat build/fuzz.log; exit 1; fi
        cat build/fuzz.log
    fi
    # Its results are the run's closing lines.
    (cd build/release && ctest --no-tests=error --output-on-failure -j "$JOBS" --timeout 900)
    ;;
run)
    bash scripts/setup.sh
    mkdir -p build
    configure_build build/release -DQM_BUILD_TESTS=OFF -DQM_BUILD_BENCH=OFF
    bash scripts/install-and-start.sh build/release
    ;;
*)
    echo "usage: $0 test|run" >&2
    exit 2
    ;;
esac
