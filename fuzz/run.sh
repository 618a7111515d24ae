#!/usr/bin/env bash
# Builds the fuzz targets with clang 14 and runs each for SECONDS (default 60) on a working copy of
# its seed corpus, then prints how many inputs each ran. Findings are left in fuzz-out/<target>/.
# Usage: fuzz/run.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
build=build-fuzz
out=fuzz-out

CC=clang-14 CXX=clang++-14 cmake -B "$build" -DUDPTRAIL_FUZZ=ON -DUDPTRAIL_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUDPTRAIL_WERROR=ON >/dev/null
cmake --build "$build" -j2 --target fuzz_gatherer fuzz_line_assembler fuzz_escape fuzz_syslog_framing fuzz_syslog_format fuzz_line_filter fuzz_syslog_header >/dev/null

status=0
summary=""
for target in gatherer line_assembler escape syslog_framing syslog_format line_filter syslog_header; do
  work="$out/$target"
  mkdir -p "$work/corpus"
  log="$work/run.log"
  echo "== fuzz_$target for ${seconds}s"
  # New inputs go into the working corpus; the committed seeds are only read.
  if "$build/fuzz/fuzz_$target" "$work/corpus" "fuzz/corpus/$target" \
      -max_total_time="$seconds" -max_len=8192 -timeout=10 -print_final_stats=1 \
      -artifact_prefix="$work/" >"$log" 2>&1; then
    result=ok
  else
    result="FINDING (see $log and $work/)"
    status=1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  summary+=$(printf '%-16s %12s executions  %s' "$target" "${runs:-?}" "$result")$'\n'
done
echo
printf '%s' "$summary"
exit $status
