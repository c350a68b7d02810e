#!/usr/bin/env bash
# iniedit --origin get on a stack of layers, as whole processes: 50 files of
# 2,000 keys each (and halves of that, to show the time grows linearly with
# the total size), beside Python's configparser reading the same files.
#
#   bench/stack_origin.sh path/to/iniedit [runs]
set -euo pipefail
iniedit=$(realpath "$1")
runs=${2:-21}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

# FILES files of KEYS keys each under [s], every file setting the same keys.
make_stack() {
    local files=$1 keys=$2 f
    mkdir -p "$dir/$files-$keys"
    for ((f = 0; f < files; f++)); do
        awk -v f="$f" -v n="$keys" 'BEGIN { print "[s]"; for (k = 0; k < n; k++) printf "key%d = value %d of file %d\n", k, k, f }' \
            >"$dir/$files-$keys/layer$f.ini"
    done
}

# The median wall time in microseconds of RUNS runs of "$@" (bash's clock).
median_us() {
    local times=() i start end
    for ((i = 0; i < runs; i++)); do
        start=${EPOCHREALTIME/./}
        "$@" >/dev/null || { echo "failed: $*" >&2; exit 1; }
        end=${EPOCHREALTIME/./}
        times+=($((end - start)))
    done
    printf '%s\n' "${times[@]}" | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'
}

for shape in "25 2000" "50 1000" "50 2000"; do
    read -r files keys <<<"$shape"
    make_stack "$files" "$keys"
    layers=()
    for ((f = 0; f < files; f++)); do layers+=("--layer=$dir/$files-$keys/layer$f.ini"); done
    ours=$(median_us "$iniedit" --dialect=python "${layers[@]}" --origin get s "key$((keys - 1))")
    peer=$(median_us python3 -c 'import configparser, glob, sys
p = configparser.RawConfigParser(strict=False)
p.read(sorted(glob.glob(sys.argv[1] + "/layer*.ini")))
print(p.get("s", sys.argv[2]))' "$dir/$files-$keys" "key$((keys - 1))")
    printf '%2d files x %4d keys (%5.1f MiB): iniedit --origin get %6d us  configparser %7d us\n' \
        "$files" "$keys" "$(du -sm "$dir/$files-$keys" | awk '{ print $1 }')" "$ours" "$peer"
done
