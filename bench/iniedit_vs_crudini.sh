#!/usr/bin/env bash
# iniedit beside crudini (Debian package crudini) as whole processes on a
# real 2,000-line file: the median of RUNS runs of a get and of a set each,
# and the ratios.
#
#   bench/iniedit_vs_crudini.sh path/to/iniedit [runs]
set -euo pipefail
iniedit=$(realpath "$1")
runs=${2:-21}
[ -x "$iniedit" ] || { echo "no iniedit at $1"; exit 1; }
here=$(dirname "$(realpath "$0")")
command -v crudini >/dev/null || { echo "crudini is not installed (apt-get install crudini)"; exit 1; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
file=$dir/php.ini
cp "$here/../tests/corpus/php8.2-common/php.ini-development" "$file"

# Prints the median wall time in microseconds of running "$@" RUNS times;
# {i} in an argument becomes the run's number, so each set changes the file.
# The clock is bash's own, so reading it starts no process.
median_us() {
    local times=() i start end args arg
    for ((i = 0; i < runs; i++)); do
        args=()
        for arg in "$@"; do args+=("${arg//\{i\}/$i}"); done
        start=${EPOCHREALTIME/./}
        "${args[@]}" >/dev/null || { echo "failed: ${args[*]}" >&2; exit 1; }
        end=${EPOCHREALTIME/./}
        times+=($((end - start)))
    done
    printf '%s\n' "${times[@]}" | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'
}

ie_get=$(median_us "$iniedit" -c ';' get "$file" PHP memory_limit)
cr_get=$(median_us crudini --get "$file" PHP memory_limit)
ie_set=$(median_us "$iniedit" -c ';' set "$file" PHP memory_limit "{i}M")
cr_set=$(median_us crudini --set "$file" PHP memory_limit "{i}M")
printf 'get: iniedit %6d us  crudini %7d us  ratio %.1fx\n' "$ie_get" "$cr_get" \
    "$(awk -v a="$cr_get" -v b="$ie_get" 'BEGIN { print a / b }')"
printf 'set: iniedit %6d us  crudini %7d us  ratio %.1fx\n' "$ie_set" "$cr_set" \
    "$(awk -v a="$cr_set" -v b="$ie_set" 'BEGIN { print a / b }')"
