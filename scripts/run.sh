#!/usr/bin/env bash
# Installs what is missing, builds, and starts Tavlo: on the user's own logs, or on the example
# library in examples/ when there are none. Extra arguments are passed to tavlo.
# Until the viewer window exists, Tavlo shows the library as the outline on the command line.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target tavlo
if [ $# -gt 0 ]; then
  exec build/tavlo "$@"
elif [ -d "$HOME/.claude/projects" ] || [ -d "$HOME/Library/Developer/Xcode/CodingAssistant/ClaudeAgentConfig/projects" ]; then
  exec build/tavlo tree --depth 2
else
  exec build/tavlo tree "$PWD/examples/projects" --depth 3
fi
