#!/usr/bin/env bash
# The desktop entry is valid and claims a MIME type for every extension the host reads
# (but .raw, which cameras own), and the MIME package it installs loads.
set -euo pipefail
source_dir=$1
desktop=$source_dir/packaging/kelvamor-host.desktop
desktop-file-validate "$desktop"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/mime/packages"
cp "$source_dir/packaging/kelvamor-host.xml" "$work/mime/packages/"
cp /usr/share/mime/packages/freedesktop.org.xml "$work/mime/packages/"
XDG_DATA_DIRS=$work update-mime-database "$work/mime" 2>&1 | { ! grep .; }
claimed=$(sed -n 's/^MimeType=//p' "$desktop" | tr ';' '\n')
# An extension several types share (.asc) is settled by content: one of them will do.
for ext in tif tiff png asc hgt r16 r32 vrt; do
  types=$(awk -v e="*.$ext" -F: '$3 == e {print $2}' "$work/mime/globs2")
  [ -n "$types" ] || { echo "no MIME type for .$ext"; exit 1; }
  grep -qxF "$types" <<<"$claimed" || { echo ".$ext is $types: the entry claims none"; exit 1; }
done
