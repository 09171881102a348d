#!/usr/bin/env bash
# Makes the MSI of Lintrel from the Windows install tree:
#   make_msi.sh STAGE VERSION OUTPUT
# STAGE is what `cmake --install build/windows --prefix STAGE` puts there. wixl writes no
# conditions of components, so the two that public properties turn on get theirs here, in
# the Component table of the package it made (with msibuild, also of msitools).
set -euo pipefail
stage=$1 version=$2 output=$3
# wixl finds the files named in the descriptor beside it, never through an absolute path.
descriptor=$(mktemp -p "$stage" lintrel-XXXXXX.wxs)
trap 'rm -f "$descriptor"' EXIT
cp "$(dirname "$0")/lintrel.wxs" "$descriptor"
wixl --arch x64 --define Version="$version" --output "$output" "$descriptor"

# Turned on by PROPERTY=1, and kept by an upgrade (the older version's marker FOUND) unless
# PROPERTY=0 is given.
condition() {
  local component=$1 property=$2
  msibuild "$output" -q "UPDATE \`Component\` SET \`Condition\` = '$property = \"1\" OR (${property}FOUND AND NOT $property = \"0\")' WHERE \`Component\` = '$component'"
}
condition AutoStart AUTOSTART
condition PolicyDefinitions POLICYDEFINITIONS
condition PolicyDefinitionsEnUs POLICYDEFINITIONS
