#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs them for SECONDS in all (660 by
# default), shared out equally, seeded from examples/ and the kept regression inputs. New inputs
# stay in build-fuzz/corpus/<target>; a crash, or an input that takes more than 5 seconds, leaves
# its input in build-fuzz/findings/ and fails the run. Prints the executions and findings per target.
set -euo pipefail
cd "$(dirname "$0")/.."
# Paths relative to the clone in ccache's keys: another clone (CI's) reuses this one's results.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
total="${1:-660}"
./scripts/setup.sh >/dev/null

build=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVLO_FUZZ=ON \
  -DTAVLO_BUILD_TESTS=OFF -DTAVLO_BUILD_BENCH=OFF -DTAVLO_WARNINGS_AS_ERRORS="${TAVLO_WARNINGS_AS_ERRORS:-OFF}" >/dev/null
targets=(transcript metadata json markdown url index snippet markup feed instance restoration workflow)
seconds=$(( total / ${#targets[@]} ))
[ "$seconds" -ge 1 ] || seconds=1
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
cp "$build"/corpus/transcript/* "$build/corpus/index/"
cp "$build"/corpus/markdown/readme.md "$build/corpus/snippet/readme.md"
printf '%s' 'app  [c:NSColor:secondaryLabelColor][F:systemFontOfSize:weight:|10.000000|0.000000]No sessions found' \
  > "$build/corpus/markup/seed-0"
printf '%s' '{"arguments":["/home/me/.claude/projects/-home-me-app","tvl:///x.jsonl?exchange=1"],"activationToken":"t"}' \
  > "$build/corpus/instance/seed-0"
printf '%s' '{"identifier":"TVLViewerViewController|{\"path\":\"/home/me/x.jsonl\"}","geometry":"AdnQywADAAA=","state":"AAAA/w=="}' \
  > "$build/corpus/restoration/seed-0"
cat > "$build/corpus/feed/seed-0" <<'XML'
<rss xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle"><channel>
<item><title>0.2.0</title><link>https://example.org/0.2.0</link><sparkle:version>0.2.0</sparkle:version></item>
</channel></rss>
XML
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
  dictionary=()
  case "$t" in transcript|index) dictionary=(-dict=fuzz/transcript.dict) ;; esac
  set +e
  ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    QT_QPA_PLATFORM=offscreen "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=4096 \
    -max_len=262144 -print_final_stats=1 -artifact_prefix="$build/findings/$t-" "${dictionary[@]}" \
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
