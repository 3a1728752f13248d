#!/bin/sh
# Compiler launcher for the precompiled headers: runs the compile (COMMAND...), then writes beside the
# .gch a checksum of what it was made from, the headers' text and macros after preprocessing. The
# .gch's own bytes differ from one build to the next, so ccache (with pch_external_checksum) hashes
# this .gch.sum instead and hits for the sources that use it, in this build folder and in another
# clone's. Commands that make no .gch just run.
set -e
output=
previous=
for argument in "$@"; do
  [ "$previous" = "-o" ] && output=$argument
  previous=$argument
done
case "$output" in
  *.gch) ;;
  *) exec "$@" ;;
esac
# A .gch is hundreds of megabytes and quick to make next to the hundreds of sources it saves:
# it is not worth a place in ccache's cache.
CCACHE_DISABLE=1 "$@"
# The same command without ccache (and its settings), the output, the dependency file and -c:
# preprocess only.
while [ $# -gt 0 ]; do
  case "$1" in
    env | *=* | *ccache) shift ;;
    *) break ;;
  esac
done
preprocess=
previous=
for argument in "$@"; do
  case "$previous/$argument" in
    -o/* | -MF/* | -MT/* | */-o | */-MF | */-MT | */-MD | */-c) ;;
    *) preprocess="$preprocess '$(printf '%s' "$argument" | sed "s/'/'\\\\''/g")'" ;;
  esac
  previous=$argument
done
eval "$preprocess -E -P -dD -o '$output.i'"
sha256sum <"$output.i" >"$output.sum"
rm "$output.i"
