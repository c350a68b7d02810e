#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer, UBSan) and fuzzes
# each for a while from its seeds and past failures.
#
#   fuzz/run.sh [seconds-per-target] [target...]    targets: load edit api editor dialect stack
#
# A finding stops the run with a non-zero status and leaves the input under
# build/fuzz/artifacts/<target>/; once fixed, keep it in
# fuzz/regressions/<target>/ so that every build replays it.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(load edit api editor dialect stack)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

for target in "${targets[@]}"; do
    work=build/fuzz/corpus/$target
    artifacts=build/fuzz/artifacts/$target
    mkdir -p "$work" "$artifacts"
    inputs=("$work")
    inputs+=("fuzz/seeds/$target")
    # A target that never failed has no regressions folder yet.
    [ ! -d "fuzz/regressions/$target" ] || inputs+=("fuzz/regressions/$target")
    [ "$target" != load ] || inputs+=(tests/corpus)
    log=build/fuzz/$target.log
    echo "== fuzzing $target for ${seconds}s (log: $log)"
    status=0
    "build/fuzz/fuzz/${target}_fuzzer" "${inputs[@]}" \
        -dict=fuzz/ini.dict -max_total_time="$seconds" -max_len=16384 -timeout=10 \
        -artifact_prefix="$artifacts/" -print_final_stats=1 >"$log" 2>&1 || status=$?
    grep -E '^(stat::|Done )' "$log" || true
    if [ "$status" -ne 0 ]; then
        tail -n 60 "$log" >&2
        echo "fuzz target $target failed (status $status); inputs in $artifacts/" >&2
        exit 1
    fi
done
