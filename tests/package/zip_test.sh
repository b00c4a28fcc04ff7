#!/usr/bin/env bash
# The Windows zip: unpacked into an empty folder, it holds kalfetch5.exe,
# kalxlat.exe and README.txt (the crew's part of the README) with CR LF line
# ends, and its kalxlat.exe,
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
# README.txt is the crew's part: the quick start for Windows and how the RAW
# name reads, without the developers' material (builds, tests, Wine).
[ "$(head -n 1 "$dir/README.txt")" = $'# KALFETCH5\r' ] || { echo "README.txt does not start with the title"; exit 1; }
for words in "### Windows (10 or 11, 64-bit)" "MMDDYYYY" "Press Enter\|until Enter is pressed" "Device Manager"; do
  grep -q "$words" "$dir/README.txt" || { echo "README.txt lacks: $words"; exit 1; }
done
for words in "scripts/test" "Wine" "ctest" "<!--"; do
  if grep -q "$words" "$dir/README.txt"; then echo "README.txt holds developers' material: $words"; exit 1; fi
done

mkdir "$work/survey"
write_survey "$work/survey/in.RAW"
(cd "$work/survey" && "$wine" "$dir/kalxlat.exe" in.RAW X </dev/null >console.txt)
[ "$(cat "$work/survey/LINE0001.xyz")" = "$expected_xyz"$'\r' ] || { echo "wrong XYZ output:"; cat -A "$work/survey/LINE0001.xyz"; exit 1; }
echo "the zip's kalxlat.exe transcribes under Wine"
