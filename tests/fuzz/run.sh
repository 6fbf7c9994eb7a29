#!/bin/sh
# Runs the request fuzzer for a bounded time over a copy of the seed corpus
# (what the run adds stays in the work folder, out of the checkout), then
# prints its executions and coverage. A crash, a sanitizer report or a broken
# property fails the run, and the input that did it is printed.
#   run.sh <request_fuzzer> <work folder> [seconds]
set -u
fuzzer=$1
work=$2
seconds=${3:-60}
here=$(cd "$(dirname "$0")" && pwd)

rm -rf "$work"
mkdir -p "$work/corpus" "$work/artifacts"
cp "$here"/corpus/* "$work/corpus/"

# -close_fd_mask=1: the log has no folder under the fake platform and says so
# on stdout for every line; only stderr is kept.
"$fuzzer" "$work/corpus" \
    -dict="$here/request.dict" \
    -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
    -close_fd_mask=1 -print_final_stats=1 \
    -artifact_prefix="$work/artifacts/" >"$work/fuzz.log" 2>&1
status=$?

grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)|^stat::' "$work/fuzz.log"
if [ "$status" -ne 0 ]; then
    tail -n 60 "$work/fuzz.log"
    for input in "$work"/artifacts/*; do
        [ -f "$input" ] || continue
        echo "failing input $input:"
        python3 -c 'import sys; print(repr(open(sys.argv[1], "rb").read()))' "$input"
    done
    echo "request fuzzer FAILED (exit $status); full output: $work/fuzz.log"
    exit 1
fi
echo "request fuzzer passed: $seconds s, no crash, no sanitizer report, no broken property"
