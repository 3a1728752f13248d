#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks what a desktop reads from it: a valid
# desktop entry that handles tvl:// links, valid AppStream metainfo, the icons and the program.
set -euo pipefail
build_dir=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build_dir" --prefix "$prefix" >/dev/null
entry="$prefix/share/applications/org.tavlo.Tavlo.desktop"
desktop-file-validate "$entry"
grep -qx 'MimeType=x-scheme-handler/tvl;' "$entry"
grep -qx 'Exec=tavlo %U' "$entry"
appstreamcli validate --no-net "$prefix/share/metainfo/org.tavlo.Tavlo.metainfo.xml"
test -x "$prefix/bin/tavlo"
test -s "$prefix/share/icons/hicolor/scalable/apps/org.tavlo.Tavlo.svg"
test -s "$prefix/share/icons/hicolor/256x256/apps/org.tavlo.Tavlo.png"
test -s "$prefix/share/doc/tavlo/LICENSE"
"$prefix/bin/tavlo" --version
