#!/usr/bin/env bash
# The launcher's own overhead: with cmd1 and cmd2 each writing a timestamp
# and ms = 100, the time from the end of cmd1 to the start of cmd2, minus
# 100 ms; median and worst of 20 runs, beside `sh -c 'cmd1; sleep 0.1; cmd2'`.
#
#   bench/launcher_overhead.sh path/to/launcher [runs]
set -euo pipefail
launcher=$(realpath "$1")
runs=${2:-20}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
cat > config.ini <<'INI'
[settings]
cmd1 = date +%s%N > t1
ms = 100
cmd2 = date +%s%N > t2
INI

# Prints the gap minus 100 ms in microseconds, one line per run.
measure() {
    for _ in $(seq "$runs"); do
        "$@"
        echo $(( ($(cat t2) - $(cat t1)) / 1000 - 100000 ))
    done
}
summary() {
    sort -n | awk '{ v[NR] = $1 } END { printf "median %6d us   worst %6d us\n", v[int((NR + 1) / 2)], v[NR] }'
}

printf '%-28s ' "launcher:"
measure "$launcher" | summary
printf '%-28s ' "sh -c 'cmd1; sleep 0.1; cmd2':"
measure sh -c 'date +%s%N > t1; sleep 0.1; date +%s%N > t2' | summary
