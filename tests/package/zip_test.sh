#!/usr/bin/env bash
# The Windows zip: unpacked into an empty folder, it holds kalfetch5.exe,
# kalxlat.exe and README.txt with CR LF line ends, and its kalxlat.exe,
# run under Wine, transcribes a RAW file (an output with CR LF line ends).
# Usage: zip_test.sh PACKAGE.zip WINE   (WINEPREFIX and friends in the environment)
set -euo pipefail
zip=$1 wine=$2
. "$(dirname "$0")/survey.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$work" && cmake -E tar xf "$zip")
dir="$work/$(basename "$zip" .zip)"
for f in kalfetch5.exe kalxlat.exe README.txt; do
  [ -f "$dir/$f" ] || { echo "missing in the zip: $f"; exit 1; }
done
if grep -q -v $'\r$' "$dir/README.txt"; then echo "README.txt has lines without CR LF"; exit 1; fi

mkdir "$work/survey"
write_survey "$work/survey/in.RAW"
(cd "$work/survey" && "$wine" "$dir/kalxlat.exe" in.RAW X </dev/null >console.txt)
[ "$(cat "$work/survey/LINE0001.xyz")" = "$expected_xyz"$'\r' ] || { echo "wrong XYZ output:"; cat -A "$work/survey/LINE0001.xyz"; exit 1; }
echo "the zip's kalxlat.exe transcribes under Wine"
