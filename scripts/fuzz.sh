#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each for SECONDS (60 by
# default), seeded from examples/ and the kept regression inputs. New inputs stay in
# build-fuzz/corpus/<target>; a crash leaves its input in build-fuzz/findings/ and fails the run.
# Prints the executions and findings per target.
set -euo pipefail
cd "$(dirname "$0")/.."
# Paths relative to the clone in ccache's keys: another clone (CI's) reuses this one's results.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
seconds="${1:-60}"
./scripts/setup.sh >/dev/null

build=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVLO_FUZZ=ON \
  -DTAVLO_BUILD_TESTS=OFF -DTAVLO_BUILD_BENCH=OFF >/dev/null
targets=(transcript metadata json markdown url workflow)
cmake --build "$build" -j "$(nproc)" --target "${targets[@]/#/fuzz_}"

# Seeds: the example transcripts whole and line by line, their metadata files, a few URLs.
seed() { mkdir -p "$build/corpus/$1"; }
for t in "${targets[@]}"; do seed "$t"; done
i=0
while IFS= read -r -d '' file; do
  cp "$file" "$build/corpus/transcript/example-$((i++)).jsonl"
  cp "$file" "$build/corpus/markdown/example-$i.txt"
  head -n 8 "$file" | split -l 1 - "$build/corpus/json/line-$i-"
done < <(find examples/projects -name '*.jsonl' -size -64k -print0 | sort -z)
while IFS= read -r -d '' file; do
  cp "$file" "$build/corpus/metadata/example-$((i++)).json"
  cp "$file" "$build/corpus/json/metadata-$i.json"
done < <(find examples/projects -name 'TavloMetaData.json' -print0 | sort -z)
cp README.md "$build/corpus/markdown/readme.md"
while IFS= read -r -d '' file; do
  cp "$file" "$build/corpus/workflow/record-$((i++)).json"
done < <(find tests/fixtures/workflow -name '*.json' -print0 | sort -z)
n=0
for url in 'tvl:///home/me/.claude/projects/-home-me-app/s.jsonl' \
           'tvl:///x.jsonl?exchange=6b1f0c52&dataDebugMode=yes' 'tvl://host/a%20b.jsonl?exchange=' \
           '-home-me-app' 'http://example.org/x'; do
  printf '%s' "$url" > "$build/corpus/url/seed-$((n++))"
done

rm -rf "$build/findings"
mkdir -p "$build/findings"
status=0
summary=()
for t in "${targets[@]}"; do
  log="$build/fuzz-$t.log"
  set +e
  ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    QT_QPA_PLATFORM=offscreen "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=60 -rss_limit_mb=4096 \
    -max_len=262144 -print_final_stats=1 -artifact_prefix="$build/findings/$t-" \
    "$build/corpus/$t" "fuzz/regressions/$t" >"$log" 2>&1
  code=$?
  set -e
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
  findings=$(find "$build/findings" -name "$t-*" -type f | wc -l)
  summary+=("$(printf '%-11s %10s executions in %ss, %s finding(s)' "$t" "${runs:-?}" "$seconds" "$findings")")
  if [ "$code" -ne 0 ]; then
    status=1
    echo "fuzz_$t found a problem (exit $code); its input is in $build/findings/, the log in $log:" >&2
    grep -m 20 -E 'ERROR|SUMMARY|runtime error|#[0-9]+ 0x' "$log" >&2 || tail -n 30 "$log" >&2
  fi
done
printf '%s\n' "${summary[@]}"
exit "$status"
