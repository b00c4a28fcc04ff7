#!/usr/bin/env bash
# The Debian package: unpacked into an empty root (dpkg-deb -x), it holds the
# three programs and the README, declares its run-time libraries, and its
# kalxlat transcribes a RAW file; cmake --install puts the same files under
# any prefix.  Usage: deb_test.sh PACKAGE.deb PACKAGE-BUILD-FOLDER
set -euo pipefail
deb=$1 build=$2
. "$(dirname "$0")/survey.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

dpkg-deb -x "$deb" "$work/root"
for f in usr/bin/kalfetch5 usr/bin/kalxlat usr/bin/kalvor-sim usr/share/doc/kalfetch5/README.md \
         usr/share/doc/kalfetch5/copyright usr/share/doc/kalfetch5/changelog.gz; do
  [ -f "$work/root/$f" ] || { echo "missing in the package: $f"; exit 1; }
done
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libstdc++6; do
  [[ $depends == *"$lib"* ]] || { echo "Depends lacks $lib: $depends"; exit 1; }
done

mkdir "$work/survey"
write_survey "$work/survey/in.RAW"
(cd "$work/survey" && "$work/root/usr/bin/kalxlat" in.RAW X </dev/null >console.txt)
[ "$(cat "$work/survey/LINE0001.xyz")" = "$expected_xyz" ] || { echo "wrong XYZ output:"; cat "$work/survey/LINE0001.xyz"; exit 1; }
"$work/root/usr/bin/kalfetch5" --version | grep -q "^kalfetch5 "

cmake --install "$build" --prefix "$work/prefix" >/dev/null
diff <(cd "$work/root/usr" && find . -type f | sort) <(cd "$work/prefix" && find . -type f | sort)
echo "package and install folder hold the same files; installed kalxlat transcribes"
