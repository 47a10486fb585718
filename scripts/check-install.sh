#!/usr/bin/env bash
# Checks what `cmake --install` and `cpack -G DEB` deliver, from a build
# folder (default build/ci-release, configured and built here if needed):
#   - the man pages render without groff warnings (groff -man -ww);
#   - the installed systemd units pass `systemd-analyze verify` (the
#     service pointed at the staged program, man pages found in the staging);
#   - the Debian package holds both programs, both man pages and the units,
#     and depends on libcurl and libsqlite3.
# Nothing is installed on this machine: everything goes to a staging folder.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/ci-release}
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$(nproc)" --target busytime-harvest nsfutil >/dev/null

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR=$stage/root cmake --install "$build" --prefix /usr >/dev/null

for page in man/*.1; do
  warnings=$(groff -man -ww -Tutf8 -z "$page" 2>&1)
  [ -z "$warnings" ] || { echo "check-install: $page: $warnings" >&2; exit 1; }
done
echo "man pages render without warnings"

units=$stage/root/usr/lib/systemd/system
mkdir -p "$stage/units"
sed "s#^ExecStart=/usr/bin/#ExecStart=$stage/root/usr/bin/#" "$units/busytime-harvest.service" \
  >"$stage/units/busytime-harvest.service"
cp "$units/busytime-harvest.timer" "$stage/units/"
MANPATH=$stage/root/usr/share/man systemd-analyze verify \
  "$stage/units/busytime-harvest.service" "$stage/units/busytime-harvest.timer"
echo "systemd-analyze verify: the units pass"

(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls -t "$build"/busytime-harvest_*.deb | head -n 1)
contents=$(dpkg-deb -c "$deb")
for file in usr/bin/busytime-harvest usr/bin/nsfutil usr/share/man/man1/busytime-harvest.1 \
            usr/share/man/man1/nsfutil.1 usr/lib/systemd/system/busytime-harvest.service \
            usr/lib/systemd/system/busytime-harvest.timer; do
  grep -q " \./$file\$" <<<"$contents" || { echo "check-install: $deb lacks $file" >&2; exit 1; }
done
depends=$(dpkg-deb -f "$deb" Depends)
for library in libcurl4 libsqlite3-0; do
  grep -q "$library" <<<"$depends" || { echo "check-install: Depends lacks $library: $depends" >&2; exit 1; }
done
echo "$(basename "$deb"): programs, man pages and units; Depends: $depends"
