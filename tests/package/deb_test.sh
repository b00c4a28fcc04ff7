#!/usr/bin/env bash
# The Debian package: unpacked into an empty root (dpkg-deb -x), it holds the
# three programs, their manual pages and the README, declares its run-time libraries, and its
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
# The manual pages render without a warning and hold what each --help says.
for page in kalfetch5 kalxlat kalvor-sim; do
  file=$work/root/usr/share/man/man1/$page.1.gz
  [ -f "$file" ] || { echo "missing in the package: manual page $page(1)"; exit 1; }
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$file" 2>&1 >/dev/null)
  [ -z "$warnings" ] || { echo "man --warnings on $page(1):"; echo "$warnings"; exit 1; }
  rendered=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$file" 2>/dev/null)
  grep -q "^NAME" <<<"$rendered" || { echo "$page(1) has no NAME section"; exit 1; }
  grep -q "^       $page - " <<<"$rendered" || { echo "$page(1) does not name $page"; exit 1; }
done
LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$work/root/usr/share/man/man1/kalxlat.1.gz" 2>/dev/null |
  grep -q "usage: kalxlat RAWFILE \[TYPES\] \[HEIGHT\] \[--csv\] \[--geojson\] \[--report\]" ||
  { echo "kalxlat(1) lacks the usage line of kalxlat --help"; exit 1; }
LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$work/root/usr/share/man/man1/kalfetch5.1.gz" 2>/dev/null |
  grep -q "Exit status: 0 done, 1 command line, 2 port" ||
  { echo "kalfetch5(1) lacks the exit statuses of kalfetch5 --help"; exit 1; }

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
