# The whole road as a person would take it: the template builds W2KVQ8E10.EXE from two
# generated firmware files with real clicks, and the release flashes a virtual IBM-K drive
# and a virtual non-IBM-K drive. The driving and the checks are scripts/road.sh, the same
# steps the README's main command plays.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
exec bash "$root/scripts/road.sh" --shots "$2/shots" "$1" "$2"
