#!/usr/bin/env bash
# Tries nivelix-record@.service under a real systemd, as root: a Debian 12
# tree (made once with debootstrap, then reused) booted with systemd-nspawn.
# In it: the packages nivelix-record and libnivelix-link installed with apt
# (what apt would bring is checked for GUI libraries first), a broker
# (mosquitto), and the simulator nivelix-sim as a service of its own on a
# pseudo-terminal, COM1 of the instance nivelix-record@sim. Says whether the
# service records into /var/lib/nivelix/sim with the modes wanted, publishes
# to the broker, how systemd-analyze security rates it there, and whether its
# watchdog restarts a recorder stuck in one call (stopped with SIGSTOP).
#
# Not part of scripts/test.sh: it downloads a Debian system once and takes a
# few minutes. Folder: $NIVELIX_NSPAWN_DIR (default /var/tmp/nivelix-nspawn);
# build folder: $NIVELIX_BUILD_DIR (default build).
set -euo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)"
cd "$src"
[ "$(id -u)" -eq 0 ] || { echo "try-service: run as root (debootstrap, systemd-nspawn)" >&2; exit 1; }
dir="${NIVELIX_BUILD_DIR:-build}"
nspawn="${NIVELIX_NSPAWN_DIR:-/var/tmp/nivelix-nspawn}"
tree="$nspawn/tree"
mirror="${NIVELIX_DEBIAN_MIRROR:-http://deb.debian.org/debian}"
command -v debootstrap >/dev/null && command -v systemd-nspawn >/dev/null || bash scripts/install-deps.sh debootstrap systemd-container

say() { echo "try-service: $*"; }
fail() { echo "try-service: FAILED: $*" >&2; exit 1; }

# 1. The packages, and a settings file as nivelix3 saves it (COM1, RS232).
[ -f "$dir/CMakeCache.txt" ] || cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" --target nivelix3 nivelix-sim nivelix-record com72500 com72800 >/dev/null
rm -rf "$nspawn/debs" "$nspawn/work"
mkdir -p "$nspawn/debs" "$nspawn/work"
(cd "$dir" && cpack -G DEB -B "$nspawn/debs" >/dev/null)
(cd "$nspawn/work" && QT_QPA_PLATFORM=offscreen timeout 3 "$src/$dir/app/shell/nivelix3" >/dev/null 2>&1 || true)
[ -s "$nspawn/work/ruzazazo.cfg" ] || fail "nivelix3 saved no settings file"

# 2. The tree, made once.
if [ ! -d "$tree" ]; then
  say "making a Debian 12 tree in $tree (once)"
  rm -rf "$tree.partial"
  debootstrap --variant=minbase --include=systemd,systemd-sysv,ca-certificates bookworm \
              "$tree.partial" "$mirror" >"$nspawn/debootstrap.log"
  mv "$tree.partial" "$tree"
fi
# debootstrap writes no /etc/hosts: localhost as a Debian install has it.
[ -e "$tree/etc/hosts" ] || printf '127.0.0.1\tlocalhost\n::1\t\tlocalhost ip6-localhost ip6-loopback\n' >"$tree/etc/hosts"
run() { systemd-nspawn -q -D "$tree" --register=no --keep-unit --pipe "$@"; }

# 3. Installed before the boot: first what apt would bring, then for real.
# What an earlier try installed goes first, so that apt counts from scratch.
run sh -c 'DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq nivelix-record libnivelix-link mosquitto mosquitto-clients &&
           apt-get autoremove --purge -y -qq' >/dev/null 2>&1 || true
rm -rf "$tree/root/debs"
cp -r "$nspawn/debs" "$tree/root/debs"
run apt-get update -qq >/dev/null
plan="$(run sh -c 'cd /root/debs && apt-get install --simulate -q ./nivelix-record_*.deb ./libnivelix-link_*.deb' | grep '^Inst ' || true)"
gui="$(awk '{print $2}' <<<"$plan" | grep -xE 'libqt6gui6|libqt6widgets6|libx11-6|libxcb1|libgl1|libegl1|libwayland-client0' || true)"
say "installing nivelix-record there brings $(grep -c . <<<"$plan") package(s); GUI libraries among them: ${gui:-none}"
run sh -c 'cd /root/debs && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq ./nivelix-record_*.deb ./libnivelix-link_*.deb mosquitto mosquitto-clients' >/dev/null
cp "$nspawn/work/ruzazazo.cfg" "$tree/etc/nivelix/sim.cfg"
cat >"$tree/etc/systemd/system/nivelix-sim.service" <<'EOF'
[Unit]
Description=Simulated inclinometer on COM1 for nivelix-record@sim
Before=nivelix-record@sim.service
[Service]
# As the recorder's user: the pseudo-terminal is then the recorder's to open.
User=nivelix
Group=dialout
RuntimeDirectory=nivelix-sim
ExecStart=/usr/bin/nivelix-sim --rs232 --sensor a:1 --angle sine:10:40:20 --link /run/nivelix-sim/com1
EOF
cat >"$tree/etc/nivelix/sim.conf" <<'EOF'
NIVELIX_COM1=/run/nivelix-sim/com1
NIVELIX_RECORD_OPTIONS=--settings /etc/nivelix/sim.cfg --period 2s --file sim.txt --mqtt mqtt://localhost:1883 --site sim
EOF
rm -rf "$tree/var/lib/nivelix/sim"

# 4. Booted.
systemd-nspawn -q -D "$tree" -b --register=no --keep-unit >"$nspawn/boot.log" 2>&1 </dev/null &
nspawn_pid=$!
trap 'kill "$nspawn_pid" 2>/dev/null; wait "$nspawn_pid" 2>/dev/null || true' EXIT
leader=""
for _ in $(seq 100); do
  # The container's init, once the helper that starts it has become it.
  leader="$(pgrep -P "$nspawn_pid" -x systemd || true)"
  [ -n "$leader" ] && [ -e "/proc/$leader/ns/pid" ] && break
  sleep 0.2
done
[ -n "$leader" ] || fail "the tree did not boot: $(tail -5 "$nspawn/boot.log")"
inside() { nsenter -t "$leader" -a "$@"; }
for _ in $(seq 60); do
  state="$(inside systemctl is-system-running 2>/dev/null || true)"
  case "$state" in running|degraded) break ;; esac
  sleep 1
done
say "booted: systemd $(inside systemctl --version | head -1 | awk '{print $2}'), system $state"

# 5. The service on the simulator.
inside systemctl start nivelix-sim.service mosquitto.service
inside systemctl start nivelix-record@sim.service || true
status="$(inside systemctl show -p ActiveState,SubState,MainPID nivelix-record@sim.service | tr '\n' ' ')"
say "nivelix-record@sim after its start: $status"
sleep 7
file=/var/lib/nivelix/sim/sim.txt
lines="$(inside sh -c "tr -cd '\n' <$file | wc -c" 2>/dev/null || echo 0)"
say "$file: $lines line(s) (4 of header) and $(inside stat -c '%U:%G %a' $file 2>&1); folder $(inside stat -c '%U:%G %a' /var/lib/nivelix/sim)"
say "last line: $(inside tail -n 1 $file | tr -d '\r')"
message="$(inside timeout 10 mosquitto_sub -h localhost -t 'nivelix/#' -C 1 -v 2>&1 || true)"
say "broker: ${message:-nothing within 10 s}"
say "the recorder's connection: $(inside sh -c 'cat /proc/net/tcp6 /proc/net/tcp' | awk '$3 ~ /:075B$/ && $4 == "01"' | wc -l) established to port 1883"
say "security inside: $(inside systemd-analyze security nivelix-record@sim.service 2>&1 | grep 'Overall exposure' | sed 's/^→ //')"

# 6. Stuck in one call: stopped, the watchdog must end it and systemd start
# it again (30 s watchdog, 10 s to take SIGABRT, then SIGKILL, 30 s pause).
pid="$(inside systemctl show -p MainPID --value nivelix-record@sim.service)"
[ "$pid" -gt 0 ] || fail "no recorder running"
inside sh -c "kill -STOP $pid"
say "recorder $pid stopped with SIGSTOP; waiting for the watchdog"
restarted=""
for _ in $(seq 120); do
  sleep 1
  now="$(inside systemctl show -p MainPID --value nivelix-record@sim.service)"
  sub="$(inside systemctl show -p SubState --value nivelix-record@sim.service)"
  if [ "$now" -gt 0 ] && [ "$now" != "$pid" ] && [ "$sub" = running ]; then restarted="$now"; break; fi
done
inside journalctl -q -b -u nivelix-record@sim.service --no-pager | grep -iE 'watchdog|restart|killed|abort|Started|recording' |
  sed 's/^/    /' | tail -14
if [ -n "$restarted" ]; then
  say "the watchdog restarted the stuck recorder: new process $restarted, $(inside systemctl show -p NRestarts nivelix-record@sim.service)"
else
  say "the stuck recorder was NOT restarted within 120 s"
fi
say "files now: $(inside ls /var/lib/nivelix/sim | tr '\n' ' ')"
inside systemctl stop nivelix-record@sim.service nivelix-sim.service
say "stopped: $(inside systemctl show -p Result,ExecMainStatus nivelix-record@sim.service | tr '\n' ' ')"
[ -n "$restarted" ] && [ "${lines:-0}" -gt 4 ] && [ -z "$gui" ] || fail "see above"
say "all well"
