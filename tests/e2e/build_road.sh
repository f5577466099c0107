# The whole road as a person would take it: the template builds W2KVQ8E10.EXE from two
# generated firmware files with real clicks, and the release flashes a virtual IBM-K drive
# and a virtual non-IBM-K drive. The driving and the checks are scripts/road.sh, the same
# steps the README's main command plays.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
# The release's lock against shutdown and sleep is asked of no logind of the machine: with
# no system bus at that address it flashes without the lock and says so in one line.
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$2/no-system-bus"
exec bash "$root/scripts/road.sh" --shots "$2/shots" "$1" "$2"
