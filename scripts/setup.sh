#!/usr/bin/env bash
# Installs what building and running Tavlo needs on Debian 12 (`setup.sh run`), or that and what
# testing and packaging it need too (`setup.sh`, `setup.sh test`), and does nothing (quickly) when
# everything is already there.
set -euo pipefail
cd "$(dirname "$0")/.."
purpose="${1:-test}"

packages=(
  cmake ninja-build g++ pkg-config ccache
  qt6-base-dev qt6-base-dev-tools qt6-webengine-dev qt6-webengine-dev-tools qt6-webchannel-dev
  libqt6opengl6-dev libgl-dev
  libcmark-gfm-dev libcmark-gfm-extensions-dev libsimdjson-dev
  libglib2.0-dev libsqlite3-dev fonts-dejavu-core fonts-symbola
  curl ca-certificates
)
if [ "$purpose" != run ]; then
  packages+=(
    xvfb xauth libqt6sql6-sqlite
    clang libclang-rt-14-dev
    desktop-file-utils appstream
    dpkg-dev file lintian
  )
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  # sudo drops the environment, so the non-interactive front end is passed through env.
  as_root=(env DEBIAN_FRONTEND=noninteractive)
  [ "$(id -u)" -eq 0 ] || as_root=(sudo "${as_root[@]}")
  echo "Installing: ${missing[*]}"
  "${as_root[@]}" apt-get -o DPkg::Lock::Timeout=600 update -qq
  "${as_root[@]}" apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}"
fi

# highlight.js and DOMPurify for the session page, pinned by package-lock.json (no npm needed).
if [ ! -f node_modules/@highlightjs/cdn-assets/highlight.min.js ] || [ ! -f node_modules/dompurify/dist/purify.min.js ]; then
  ./scripts/fetch-page-scripts.sh
fi
