#!/usr/bin/env bash
# Checks the Debian package a build made (cmake --build BUILD --target package): exactly the
# expected files, dependencies that a bare system can satisfy, a valid desktop entry and metainfo,
# and programs that run from the unpacked package. lintian, where installed, must find no error.
set -euo pipefail
build_dir=$1
here=$(cd "$(dirname "$0")" && pwd)
debs=("$build_dir"/tavlo_*_amd64.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "expected one tavlo_*_amd64.deb in $build_dir" >&2; exit 1; }
deb=${debs[0]}
version=$(dpkg-deb -f "$deb" Version)
[ "$(basename "$deb")" = "tavlo_${version}_amd64.deb" ] || { echo "package named $(basename "$deb") for version $version" >&2; exit 1; }

fail() { echo "$deb: $*" >&2; exit 1; }

# Files: regular files and links, without the folders.
diff -u "$here/package-files.txt" <(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort) \
  || fail "holds other files than tests/Desktop/package-files.txt lists"

# Dependencies: the libraries found by dpkg-shlibdeps and the web engine's pieces loaded at run time,
# never a development package.
depends=$(dpkg-deb -f "$deb" Depends)
for package in libc6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6webenginecore6 libqt6webenginewidgets6 \
               libqt6webenginecore6-bin libqt6webengine6-data libcmark-gfm0 libsqlite3-0; do
  grep -Eq "(^|, )${package}[0-9.a-z+~-]*( |,|$)" <<<"$depends" || fail "Depends lacks $package: $depends"
done
if grep -Eq -- '-dev( |,|$)' <<<"$depends"; then fail "Depends names a development package: $depends"; fi

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
desktop-file-validate "$root/usr/share/applications/org.tavlo.Tavlo.desktop"
grep -qx 'MimeType=x-scheme-handler/tvl;' "$root/usr/share/applications/org.tavlo.Tavlo.desktop"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.tavlo.Tavlo.metainfo.xml"
zcat "$root/usr/share/doc/tavlo/changelog.gz" | head -1 | grep -q "^tavlo ($version) " \
  || fail "changelog.gz does not start with version $version"

# The programs run from the package, answering without a display.
[ "$("$root/usr/bin/tavlo" --version)" = "Tavlo $version" ] || fail "tavlo --version says $("$root/usr/bin/tavlo" --version)"
"$root/usr/bin/tavlo" tree "$here/../../examples/projects" --depth 1 --json | grep -q '"children"' \
  || fail "tavlo tree gave no outline"
if ldd "$root/usr/bin/tavlo-viewer" | grep 'not found'; then fail "tavlo-viewer misses libraries"; fi

if command -v lintian >/dev/null; then
  lintian --fail-on error "$deb"
fi
echo "$(basename "$deb"): $(dpkg-deb -c "$deb" | grep -vc '^d') files, Depends: $depends"
