#!/bin/sh
# tree.sh PRESET: the build folder of a configure preset, as CMakePresets.json
# names it (its binaryDir, relative to the source tree). The Makefile and the
# scripts find every tree so; the presets alone name them.
set -eu
presets="$(dirname "$0")/../CMakePresets.json"
dir=$(sed -n "/\"name\": \"$1\"/,/\"binaryDir\"/s|.*\"binaryDir\": \"\${sourceDir}/\([^\"]*\)\".*|\1|p" \
    "$presets" | head -n 1)
[ -n "$dir" ] || { echo "tree.sh: CMakePresets.json names no folder for the preset '$1'" >&2; exit 1; }
echo "$dir"
