#!/usr/bin/env bash
# Checks Nivelix as a user installs it, in three steps:
#  1. `cmake --install` into a fresh prefix: the program, the recorder and its
#     service unit, the simulator, both
#     link libraries (in lib/nivelix, found through the program's RUNPATH), the
#     desktop entry and the icon are where a desktop expects them, and the
#     installed nivelix3 starts (offscreen) and writes its settings file in
#     its working folder;
#  2. `cpack -G DEB`: three packages, nivelix (the program, depending on the
#     Qt runtime), nivelix-record (the recorder and its unit) and
#     libnivelix-link (the link libraries and the simulator), which both
#     depend on; nothing that nivelix-record needs, however deep, is a GUI
#     library; its unit passes `systemd-analyze verify` and rates 3.0 or less
#     by `systemd-analyze security --offline=yes`;
#  3. as root, and only when no nivelix package is installed already: the
#     packages are installed with dpkg -i, /usr/bin/nivelix3 is started
#     offscreen for two seconds, the port lock folder is there, and the
#     packages are removed again.
# Exits non-zero at the first failed check. Build folder: $NIVELIX_BUILD_DIR
# (default build).
set -euo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)"
cd "$src"
dir="${NIVELIX_BUILD_DIR:-build}"
[ -f "$dir/CMakeCache.txt" ] || cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" --target nivelix3 nivelix-sim nivelix-record com72500 com72800
dir="$(cd "$dir" && pwd)"

tmp="$(mktemp -d)"
installed_by_us=0
cleanup() {
  if [ "$installed_by_us" = 1 ]; then dpkg -r nivelix nivelix-record libnivelix-link >/dev/null 2>&1 || true; fi
  rm -rf "$tmp"
}
trap cleanup EXIT

fail() { echo "check-package: $*" >&2; exit 1; }

# Starts program offscreen in a fresh working folder; it must still run
# after two seconds (a missing library ends it at once) and must have
# created its settings file there.
starts() {
  local program="$1" work="$tmp/work-$2"
  mkdir -p "$work"
  (cd "$work" && QT_QPA_PLATFORM=offscreen exec "$program" >"$work/out.log" 2>&1) &
  local pid=$!
  sleep 2
  if ! kill -0 "$pid" 2>/dev/null; then
    wait "$pid" || true
    cat "$work/out.log" >&2
    fail "$program did not keep running"
  fi
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  [ -s "$work/ruzazazo.cfg" ] || fail "$program did not create ruzazazo.cfg in its working folder"
  echo "ok: $program starts and writes ruzazazo.cfg in its working folder"
}

# 1. A fresh prefix.
prefix="$tmp/prefix"
cmake --install "$dir" --prefix "$prefix" >/dev/null
for f in bin/nivelix3 bin/nivelix-view bin/nivelix-sim bin/nivelix-record lib/systemd/system/nivelix-record@.service \
         lib/tmpfiles.d/nivelix.conf \
         lib/nivelix/libcom72500.so lib/nivelix/libcom72800.so \
         share/applications/nivelix3.desktop share/icons/hicolor/scalable/apps/nivelix.svg \
         share/applications/nivelix-view.desktop share/mime/packages/nivelix-acquisition.xml \
         share/doc/nivelix/user-guide.md share/doc/nivelix/screenshots/main-window.png; do
  [ -e "$prefix/$f" ] || fail "cmake --install put no $f"
done
echo "ok: cmake --install puts the program, the viewer, the simulator, both link libraries, desktop entries, MIME type and icon"
# Both link libraries come from the prefix, not from the build folder.
libs="$(ldd "$prefix/bin/nivelix3")"
if grep -q "not found" <<<"$libs"; then echo "$libs" >&2; fail "nivelix3 misses a library"; fi
for l in libcom72500.so libcom72800.so; do
  grep -q "$l => $prefix/bin/../lib/nivelix/$l" <<<"$libs" || { echo "$libs" >&2; fail "$l not found in the prefix"; }
done
echo "ok: the installed nivelix3 binds both link libraries from $prefix/lib/nivelix"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$prefix/share/applications/nivelix3.desktop" "$prefix/share/applications/nivelix-view.desktop"
fi
"$prefix/bin/nivelix-sim" --help >/dev/null || fail "installed nivelix-sim does not run"
"$prefix/bin/nivelix-record" --help >/dev/null || fail "installed nivelix-record does not run"
QT_QPA_PLATFORM=offscreen "$prefix/bin/nivelix-view" --help >/dev/null || fail "installed nivelix-view does not run"
starts "$prefix/bin/nivelix3" prefix

# 2. The Debian packages.
(cd "$dir" && cpack -G DEB -B "$tmp/package" >/dev/null)
deb_program="$(ls "$tmp"/package/nivelix_*.deb)"
deb_record="$(ls "$tmp"/package/nivelix-record_*.deb)"
deb_link="$(ls "$tmp"/package/libnivelix-link_*.deb)"
# Each package holds its files; those of the recorder and the link, only
# those (the program's grows with the viewer; a file in two packages makes
# dpkg -i below fail).
holds() {
  local only="$1" deb="$2"; shift 2
  local files
  files="$(dpkg-deb -c "$deb" | awk '$6 !~ /\/$/ {print $6}' | sort)"
  for f in "$@"; do
    grep -qx "$f" <<<"$files" || { echo "$files" >&2; fail "$(basename "$deb") holds no $f"; }
  done
  if [ "$only" = only ] && grep -vxF -f <(printf '%s\n' "$@") <<<"$files" | grep -v '^./usr/share/doc/' >&2; then
    fail "$(basename "$deb") holds files of another package (above)"
  fi
}
holds some "$deb_program" ./usr/bin/nivelix3 ./usr/bin/nivelix-view ./usr/share/applications/nivelix3.desktop \
      ./usr/share/applications/nivelix-view.desktop ./usr/share/mime/packages/nivelix-acquisition.xml \
      ./usr/share/icons/hicolor/scalable/apps/nivelix.svg ./usr/share/doc/nivelix/user-guide.md
holds only "$deb_record" ./usr/bin/nivelix-record ./usr/lib/systemd/system/nivelix-record@.service \
      ./usr/share/doc/nivelix-record/nivelix-record.conf.example
holds only "$deb_link" ./usr/bin/nivelix-sim ./usr/lib/nivelix/libcom72500.so ./usr/lib/nivelix/libcom72800.so \
      ./usr/lib/tmpfiles.d/nivelix.conf
version="$(dpkg-deb -f "$deb_link" Version)"
for deb in "$deb_program" "$deb_record"; do
  depends="$(dpkg-deb -f "$deb" Depends)"
  grep -q "libnivelix-link (= $version)" <<<"$depends" || fail "$(basename "$deb") does not depend on libnivelix-link $version: $depends"
done
grep -q libqt6widgets6 <<<"$(dpkg-deb -f "$deb_program" Depends)" || fail "nivelix does not depend on the Qt widgets runtime"
echo "ok: nivelix, nivelix-record and libnivelix-link hold their files under /usr; both programs depend on libnivelix-link $version"

# Everything nivelix-record brings, however deep, by the archive's own
# dependencies (whatever this machine has installed already): no GUI.
names() { dpkg-deb -f "$1" Depends | tr ',' '\n' | sed 's/^ *//; s/[ (].*//' | grep -v '^libnivelix-link$' | grep .; }
closure="$(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
             --no-replaces --no-enhances $(names "$deb_record") $(names "$deb_link") 2>/dev/null |
           grep -v '^ ' | sed 's/^<\(.*\)>$/\1/' | sort -u)"
[ -n "$closure" ] || fail "apt-cache knows none of nivelix-record's dependencies (apt-get update?)"
gui="$(grep -xE 'libqt6gui6|libqt6widgets6|libqt6printsupport6|libx11-6|libxcb1|libgl1|libegl1|libwayland-client0|libqcustomplot.*' <<<"$closure" || true)"
[ -z "$gui" ] || fail "nivelix-record brings GUI libraries: $(echo $gui)"
echo "ok: nivelix-record with libnivelix-link brings $(wc -l <<<"$closure") packages at most, none of them a GUI library"

# The unit as packaged: verified (with the program taken from the package
# rather than /usr/bin) and rated.
root="$tmp/root"
mkdir -p "$root/units"
dpkg-deb -x "$deb_record" "$root"
dpkg-deb -x "$deb_link" "$root"
sed "s|/usr/bin/nivelix-record|$root/usr/bin/nivelix-record|" "$root/usr/lib/systemd/system/nivelix-record@.service" \
  >"$root/units/nivelix-record@check.service"
systemd-analyze verify "$root/units/nivelix-record@check.service" || fail "systemd-analyze verify finds fault with the unit"
echo "ok: systemd-analyze verify passes nivelix-record@.service"
rating="$(systemd-analyze security --offline=yes --threshold=30 --root="$root" nivelix-record@check.service 2>&1)" ||
  { echo "$rating" >&2; fail "nivelix-record@.service rates above 3.0"; }
echo "ok: $(grep 'Overall exposure' <<<"$rating" | sed 's/^→ //')"
for deb in "$deb_program" "$deb_record" "$deb_link"; do
  if [ -n "${NIVELIX_PACKAGE_OUT:-}" ]; then cp "$deb" "$NIVELIX_PACKAGE_OUT"; fi
done

# 3. Installed with dpkg, started, removed.
if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: dpkg -i (needs root)"
  exit 0
fi
if dpkg-query -W -f='${Status}\n' nivelix nivelix-record libnivelix-link 2>/dev/null | grep -q "install ok installed"; then
  echo "skipped: dpkg -i (a nivelix package is installed already and is left as it is)"
  exit 0
fi
dpkg -i "$deb_link" "$deb_record" "$deb_program" >/dev/null ||
  fail "dpkg -i failed (missing dependencies? apt-get install ./THE.deb ... installs them)"
installed_by_us=1
[ "$(command -v nivelix3)" = /usr/bin/nivelix3 ] || fail "nivelix3 is not /usr/bin/nivelix3 on the PATH"
starts /usr/bin/nivelix3 deb
id -nG nivelix 2>/dev/null | grep -qw dialout || fail "the package made no user nivelix in the dialout group"
echo "ok: the package made the system user nivelix, in the dialout group, for nivelix-record@.service"
[ "$(stat -c '%a %U %G' /run/lock/nivelix 2>/dev/null)" = "2775 root dialout" ] ||
  fail "no port lock folder /run/lock/nivelix 2775 root:dialout after the install: $(stat -c '%a %U %G' /run/lock/nivelix 2>&1)"
echo "ok: the package made the port lock folder /run/lock/nivelix, 2775 root:dialout"
dpkg -r nivelix nivelix-record libnivelix-link >/dev/null
installed_by_us=0
[ ! -e /usr/bin/nivelix3 ] && [ ! -e /usr/lib/nivelix ] || fail "dpkg -r left files behind"
echo "ok: the packages install with dpkg -i, /usr/bin/nivelix3 starts, dpkg -r removes them"
