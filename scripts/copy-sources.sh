#!/usr/bin/env bash
# Copies the sources as this working tree holds them into a folder: the tracked files and
# the new ones git does not ignore (outside a git working tree: everything but the build
# and output folders). Used where a build must start from the sources alone.
#   scripts/copy-sources.sh DEST
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dest=${1:?the folder to copy the sources into}
mkdir -p "$dest"
if git -C "$root" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  (cd "$root" && git ls-files -z --cached --others --exclude-standard |
     while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
     tar --null -T - -cf -) | tar -xf - -C "$dest"
else
  tar -C "$root" --exclude=./build --exclude='./build-*' --exclude=./out --exclude=./.cache -cf - . |
    tar -xf - -C "$dest"
fi
