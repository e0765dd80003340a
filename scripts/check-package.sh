#!/usr/bin/env bash
# Checks Nivelix as a user installs it, in three steps:
#  1. `cmake --install` into a fresh prefix: the program, the recorder and its
#     service unit, the simulator, both
#     link libraries (in lib/nivelix, found through the program's RUNPATH), the
#     desktop entry and the icon are where a desktop expects them, and the
#     installed nivelix3 starts (offscreen) and writes its settings file in
#     its working folder;
#  2. `cpack -G DEB`: the package holds the same files under /usr and depends
#     on the Qt runtime packages;
#  3. as root, and only when no nivelix package is installed already: the
#     package is installed with dpkg -i, /usr/bin/nivelix3 is started
#     offscreen for two seconds, and the package is removed again.
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
  if [ "$installed_by_us" = 1 ]; then dpkg -r nivelix >/dev/null 2>&1 || true; fi
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
for f in bin/nivelix3 bin/nivelix-sim bin/nivelix-record lib/systemd/system/nivelix-record@.service \
         lib/nivelix/libcom72500.so lib/nivelix/libcom72800.so \
         share/applications/nivelix3.desktop share/icons/hicolor/scalable/apps/nivelix.svg \
         share/doc/nivelix/user-guide.md share/doc/nivelix/screenshots/main-window.png; do
  [ -e "$prefix/$f" ] || fail "cmake --install put no $f"
done
echo "ok: cmake --install puts the program, the simulator, both link libraries, desktop entry and icon"
# Both link libraries come from the prefix, not from the build folder.
libs="$(ldd "$prefix/bin/nivelix3")"
if grep -q "not found" <<<"$libs"; then echo "$libs" >&2; fail "nivelix3 misses a library"; fi
for l in libcom72500.so libcom72800.so; do
  grep -q "$l => $prefix/bin/../lib/nivelix/$l" <<<"$libs" || { echo "$libs" >&2; fail "$l not found in the prefix"; }
done
echo "ok: the installed nivelix3 binds both link libraries from $prefix/lib/nivelix"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$prefix/share/applications/nivelix3.desktop"
fi
"$prefix/bin/nivelix-sim" --help >/dev/null || fail "installed nivelix-sim does not run"
"$prefix/bin/nivelix-record" --help >/dev/null || fail "installed nivelix-record does not run"
starts "$prefix/bin/nivelix3" prefix

# 2. The Debian package.
(cd "$dir" && cpack -G DEB -B "$tmp/package" >/dev/null)
deb="$(ls "$tmp"/package/nivelix_*.deb)"
contents="$(dpkg-deb -c "$deb")"
for f in ./usr/bin/nivelix3 ./usr/bin/nivelix-sim ./usr/bin/nivelix-record \
         ./usr/lib/systemd/system/nivelix-record@.service ./usr/lib/nivelix/libcom72500.so ./usr/lib/nivelix/libcom72800.so \
         ./usr/share/applications/nivelix3.desktop ./usr/share/icons/hicolor/scalable/apps/nivelix.svg; do
  grep -q " $f\$" <<<"$contents" || { echo "$contents" >&2; fail "the package holds no $f"; }
done
depends="$(dpkg-deb -f "$deb" Depends)"
grep -q libqt6widgets6 <<<"$depends" || fail "the package does not depend on the Qt widgets runtime: $depends"
echo "ok: $(basename "$deb") holds the files under /usr; Depends: $depends"
if [ -n "${NIVELIX_PACKAGE_OUT:-}" ]; then cp "$deb" "$NIVELIX_PACKAGE_OUT"; fi

# 3. Installed with dpkg, started, removed.
if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: dpkg -i (needs root)"
  exit 0
fi
if dpkg-query -W -f='${Status}' nivelix 2>/dev/null | grep -q "install ok installed"; then
  echo "skipped: dpkg -i (a nivelix package is installed already and is left as it is)"
  exit 0
fi
dpkg -i "$deb" >/dev/null || fail "dpkg -i failed (missing dependencies? apt-get install $deb installs them)"
installed_by_us=1
[ "$(command -v nivelix3)" = /usr/bin/nivelix3 ] || fail "nivelix3 is not /usr/bin/nivelix3 on the PATH"
starts /usr/bin/nivelix3 deb
id -nG nivelix 2>/dev/null | grep -qw dialout || fail "the package made no user nivelix in the dialout group"
echo "ok: the package made the system user nivelix, in the dialout group, for nivelix-record@.service"
dpkg -r nivelix >/dev/null
installed_by_us=0
[ ! -e /usr/bin/nivelix3 ] && [ ! -e /usr/lib/nivelix ] || fail "dpkg -r left files behind"
echo "ok: the package installs with dpkg -i, /usr/bin/nivelix3 starts, dpkg -r removes it"
