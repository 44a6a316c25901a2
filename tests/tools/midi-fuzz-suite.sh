#!/bin/sh
# The suite's short fuzz run of one target: smf and smfload start from the edge files and the Debian MIDI
# corpus (when installed), the others from their built-in seeds.
#   midi-fuzz-suite.sh MIDI_FUZZ EDGE_GENERATOR TARGET SECONDS
set -e
fuzz=$1 generator=$2 target=$3 seconds=$4
if [ "$target" != smf ] && [ "$target" != smfload ]; then exec "$fuzz" "$target" --seconds "$seconds"; fi
seeds=$(mktemp -d)
trap 'rm -rf "$seeds"' EXIT
python3 "$generator" "$seeds"
rmdir "$seeds/bad-folder.mid"
set -- "$seeds"
for d in /usr/share/games/openttd/baseset/openmsx /usr/share/planetblupi/music; do
  [ -d "$d" ] && set -- "$@" "$d"
done
"$fuzz" "$target" --seconds "$seconds" "$@"
