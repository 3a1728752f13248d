#!/usr/bin/env bash
# Installs what is missing, builds, and starts Tavlo: on the user's own logs, or on the example
# library in examples/ when there are none. Extra arguments are passed to tavlo. Builds only the
# programs (not the tests or benchmarks), and prints how long each step took.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/steps.sh
step "Installing what is missing" ./scripts/setup.sh run
step "Configuring" cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
step "Building tavlo" cmake --build build -j "$(nproc)" --target tavlo
# The web engine's sandbox refuses to start for root (containers, CI machines).
if [ "$(id -u)" = 0 ]; then
  export QTWEBENGINE_DISABLE_SANDBOX=1
fi
echo "==> Starting Tavlo" >&2
if [ $# -gt 0 ]; then
  exec build/tavlo "$@"
elif [ -d "$HOME/.claude/projects" ] || [ -d "$HOME/Library/Developer/Xcode/CodingAssistant/ClaudeAgentConfig/projects" ]; then
  exec build/tavlo
else
  exec build/tavlo "$PWD/examples/projects"
fi
