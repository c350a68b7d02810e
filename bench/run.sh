#!/usr/bin/env bash
# Runs every benchmark: warm in-process throughput beside the peers (with a
# table of ratios), a 64 MiB load in a fresh process (time and peak RSS), the
# launcher's overhead, and iniedit beside crudini when it is installed.
#
#   bench/run.sh path/to/ini_bench path/to/launcher path/to/iniedit [benchmark options]
set -euo pipefail
bench=$(realpath "$1")
launcher=$(realpath "$2")
iniedit=$(realpath "$3")
shift 3
here=$(dirname "$(realpath "$0")")

echo "== machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "== warm, in-process"
"$bench" --benchmark_min_time=0.3 "$@"

echo
echo "== fresh process, 64 MiB mixed file (best of 3)"
file=$(mktemp --suffix=.ini)
trap 'rm -f "$file"' EXIT
"$bench" --generate mixed $((64 << 20)) "$file"
size_mib=$(( $(stat -c %s "$file") >> 20 ))
for library in ini simpleini inih_raw boost; do
    best=""
    for _ in 1 2 3; do
        line=$("$bench" --fresh "$library" "$file") || continue
        seconds=$(echo "$line" | awk '{ print $2 }')
        if [ -z "$best" ] || awk -v a="$seconds" -v b="$(echo "$best" | awk '{ print $2 }')" 'BEGIN { exit !(a < b) }'; then
            best=$line
        fi
    done
    rss=$(echo "$best" | sed -E 's/.*peak RSS ([0-9.]+) MiB.*/\1/')
    echo "$best; RSS / file size $(awk -v r="$rss" -v s="$size_mib" 'BEGIN { printf "%.2f", r / s }')"
done

echo
echo "== launcher overhead beyond ms = 100"
"$here/launcher_overhead.sh" "$launcher" 20

echo
echo "== iniedit beside crudini, whole processes on php.ini-development"
if command -v crudini >/dev/null; then
    "$here/iniedit_vs_crudini.sh" "$iniedit" 21
else
    echo "crudini is not installed; skipped"
fi

echo
echo "== iniedit --origin get on a stack of layers, whole processes"
"$here/stack_origin.sh" "$iniedit" 21
