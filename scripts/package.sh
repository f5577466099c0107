#!/usr/bin/env bash
# Turns a built release into a Debian package: scripts/package.sh PROGRAM [OUTDIR]
#
# PROGRAM is a release (for example W2KVQ8E10.EXE, built by the template) or the template
# W2KVQXXXX.EXE itself. The package (korvane-flash-vq8e10_<version>_<arch>.deb for that
# release) goes to OUTDIR, default the current directory; its path is printed.
# What it holds and how it is made: packaging/make_deb.py.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
[ $# -ge 1 ] && [ $# -le 2 ] || { sed -n '2,7p' "$0" >&2; exit 2; }
exec /usr/bin/python3 "$root/packaging/make_deb.py" "$@"
