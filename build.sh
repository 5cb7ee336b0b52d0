#!/usr/bin/env bash
# One entry point for set-up, building, testing and running Quillmoor on Debian.
#   ./build.sh test   install what is missing, build everything, run every test
#   ./build.sh run    install what is missing, build the plug-in, install it and start the instrument
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$(pwd)
JOBS=$(nproc)
cmd=${1:-test}

configure_build() { # dir, extra cmake args... (QM_TARGETS: build only these targets)
    local dir=$1; shift
    cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >"$dir.configure.log" 2>&1 \
        || { cat "$dir.configure.log"; return 1; }
    # shellcheck disable=SC2086
    cmake --build "$dir" -j "$JOBS" ${QM_TARGETS:+--target $QM_TARGETS}
}

case "$cmd" in
test)
    bash scripts/setup.sh
    mkdir -p build
    # Engine under AddressSanitizer and UndefinedBehaviorSanitizer.
    configure_build build/asan -DQM_SANITIZE=address,undefined -DQM_BUILD_PLUGIN=OFF -DQM_BUILD_BENCH=OFF
    (cd build/asan && ctest -L engine --no-tests=error --output-on-failure -j "$JOBS" --timeout 600)
    # Tests that exercise several threads, under ThreadSanitizer.
    QM_TARGETS=$(find tests -name "test_*_mt.cpp" -exec basename {} .cpp \; | tr "\n" " ") \
        configure_build build/tsan -DQM_SANITIZE=thread -DQM_BUILD_PLUGIN=OFF -DQM_BUILD_BENCH=OFF
    (cd build/tsan && ctest -L threads --no-tests=error --output-on-failure -j "$JOBS" --timeout 600)
    # Fuzzers for a bounded time, seeded from our own generated data.
    if compgen -G "tests/fuzz/fuzz_*.cpp" >/dev/null; then
        CC=clang CXX=clang++ configure_build build/fuzz -DQM_FUZZ=ON -DQM_SANITIZE=address,undefined \
            -DQM_BUILD_PLUGIN=OFF -DQM_BUILD_TESTS=OFF -DQM_BUILD_BENCH=OFF
        bash scripts/run-fuzzers.sh build/fuzz
    fi
    # Everything, plug-in included; its results are the run's closing lines.
    configure_build build/release
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
