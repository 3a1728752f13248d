#!/usr/bin/env bash
# Fetches the page's scripts (highlight.js, DOMPurify) from the npm registry at the versions
# package-lock.json pins, checks each archive against the lock file's sha512, and unpacks it into
# node_modules/ as `npm ci` would. Doing this with curl spares a machine without Node.js the
# ~340 Debian packages that npm brings. To change a version, edit package.json and run
# `npm install` on a machine with npm: it rewrites package-lock.json.
set -euo pipefail
cd "$(dirname "$0")/.."
registry="${NPM_CONFIG_REGISTRY:-https://registry.npmjs.org}"
registry="${registry%/}"

# One "name version integrity" line per locked package that is not optional.
locked_packages() {
  awk '
    /^    "node_modules\// { name = $1; gsub(/^"node_modules\/|":?$/, "", name); version = ""; sri = ""; optional = 0 }
    /^      "version": /   { version = $2; gsub(/[",]/, "", version) }
    /^      "integrity": / { sri = $2; gsub(/[",]/, "", sri) }
    /^      "optional": true/ { optional = 1 }
    /^    }/ { if (name != "" && !optional) print name, version, sri; name = "" }
  ' package-lock.json
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
count=0
while read -r name version sri; do
  case "$sri" in
    sha512-*) ;;
    *) echo "package-lock.json: $name has no sha512 integrity" >&2; exit 1 ;;
  esac
  archive="$work/package.tgz"
  curl -fsSL --retry 3 -o "$archive" "$registry/$name/-/${name##*/}-$version.tgz"
  expected=$(printf '%s' "${sri#sha512-}" | base64 -d | od -An -v -tx1 | tr -d ' \n')
  actual=$(sha512sum "$archive" | cut -d' ' -f1)
  if [ "$expected" != "$actual" ]; then
    echo "$name $version: the archive's sha512 is not the one package-lock.json pins" >&2
    exit 1
  fi
  rm -rf "node_modules/$name"
  mkdir -p "node_modules/$name"
  tar -xzf "$archive" -C "node_modules/$name" --strip-components=1 --no-same-owner
  count=$((count + 1))
done < <(locked_packages)

if [ "$count" -eq 0 ]; then
  echo "package-lock.json lists no packages" >&2
  exit 1
fi
echo "Fetched $count page script packages into node_modules/"
