#!/bin/sh
# Builds the Debian packages (cpack -G DEB) into a scratch folder and checks them: their contents
# and control fields (dpkg-deb), no lintian errors, and, when run as root on a throwaway machine,
# tavrion-hub installed (its user in dialout, its service disabled), the hub started as that user
# on the simulator over loopback, answering /healthz, then purged, leaving no user or files.
set -eu
build=$(cd "${1:?usage: check-deb.sh BUILD_DIR}" && pwd)
command -v dpkg-deb >/dev/null || { echo "check-deb: no dpkg-deb: skipped"; exit 77; }
scratch=$(mktemp -d)
installed=""
cleanup() {
    if [ -n "$installed" ]; then dpkg --purge tavrion-hub >/dev/null 2>&1 || true; fi
    rm -rf "$scratch"
}
trap cleanup EXIT
fail() { echo "check-deb: $*" >&2; exit 1; }

(cd "$scratch" && cpack -G DEB -B "$scratch" --config "$build/CPackConfig.cmake" >/dev/null) || fail "cpack -G DEB failed"
app=$(ls "$scratch"/tavrion_*.deb) || fail "no tavrion package"
hub=$(ls "$scratch"/tavrion-hub_*.deb) || fail "no tavrion-hub package"

# What each package holds: the table is path, package.
contents_app=$(dpkg-deb -c "$app")
contents_hub=$(dpkg-deb -c "$hub")
for row in "./usr/lib/tavrion/tavrion app" "./usr/lib/tavrion/tavrion-ctl app" "./usr/lib/tavrion/tavrion-sim app" \
           "./usr/lib/tavrion/output_reso.txt app" "./usr/bin/tavrion -> app" "./usr/share/applications/tavrion.desktop app" \
           "./usr/share/man/man1/tavrion-ctl.1.gz app" "./usr/share/doc/tavrion/copyright app" \
           "./usr/lib/tavrion-hub/tavrion-hub hub" "./usr/bin/tavrion-hub -> hub" "./lib/systemd/system/tavrion-hub.service hub" \
           "./etc/tavrion-hub/units.example.json hub" "./usr/share/doc/tavrion-hub/changelog.gz hub"; do
    path=${row% *}; which=${row##* }
    if [ "$which" = app ]; then contents=$contents_app; else contents=$contents_hub; fi
    echo "$contents" | grep -qF " $path" || fail "the $which package lacks $path"
done
echo "$contents_app" | grep -q "tavrion-hub" && fail "the tavrion package holds the hub"
# Dependencies computed from the binaries: Qt's libraries, and the hub's MQTT and QR code ones.
dpkg-deb -f "$app" Depends | grep -q "libqt6widgets6" || fail "tavrion does not depend on Qt Widgets"
dpkg-deb -f "$hub" Depends | grep -q "libmosquitto1" || fail "tavrion-hub does not depend on libmosquitto1"
dpkg-deb -f "$hub" Depends | grep -q "adduser" || fail "tavrion-hub does not depend on adduser"
dpkg-deb -I "$hub" conffiles | grep -qx "/etc/tavrion-hub/units.example.json" || fail "the example units file is no conffile"
echo "installed size: tavrion $(dpkg-deb -f "$app" Installed-Size) KiB, tavrion-hub $(dpkg-deb -f "$hub" Installed-Size) KiB"

if command -v lintian >/dev/null; then
    errors=$(lintian --tag-display-limit 0 "$app" "$hub" 2>&1 | grep '^E:' || true)
    [ -z "$errors" ] || fail "lintian: $errors"
else
    echo "check-deb: no lintian: its check is skipped"
fi

# Installed for real only where that is safe: root, and no tavrion-hub of the machine's own.
if [ "$(id -u)" != 0 ] || dpkg -s tavrion-hub >/dev/null 2>&1 || getent passwd tavrion-hub >/dev/null; then
    echo "check-deb: not root, or tavrion-hub present already: not installed"
    exit 0
fi
installed=yes
dpkg -i "$hub" >/dev/null 2>&1 || apt-get install -y -qq "$hub" >/dev/null || fail "tavrion-hub did not install"
id -nG tavrion-hub | grep -qw dialout || fail "the user tavrion-hub is not in dialout"
if command -v systemctl >/dev/null && [ -d /run/systemd/system ]; then
    [ "$(systemctl is-enabled tavrion-hub.service 2>/dev/null || true)" != enabled ] || fail "the service is enabled at install"
fi
command -v systemd-analyze >/dev/null && { systemd-analyze verify /lib/systemd/system/tavrion-hub.service || fail "the packaged service file is refused"; }
# The hub as its user, on the simulator, on loopback.
sim_out=$scratch/sim.out
"$build/bin/tavrion-sim" --tcp 0 --no-stdin >"$sim_out" 2>&1 &
sim=$!
for _ in $(seq 50); do grep -q "TCP on 127.0.0.1:" "$sim_out" && break; sleep 0.1; done
tcp=$(sed -n 's/.*TCP on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$sim_out" | head -1)
[ -n "$tcp" ] || { kill $sim; fail "the simulator did not start"; }
state=$scratch/state
mkdir -p "$state" && chown tavrion-hub "$state" && chmod 755 "$scratch"
printf '{"units": [{"id": "room", "tcp": "127.0.0.1:%s"}], "poll_seconds": 0}\n' "$tcp" > "$state/units.json"
hub_out=$state/hub.out
setpriv --reuid=tavrion-hub --regid=tavrion-hub --init-groups /usr/bin/tavrion-hub --units "$state/units.json" \
    --listen 127.0.0.1:0 --token-file "$state/token" >"$hub_out" 2>&1 &
hub_pid=$!
for _ in $(seq 100); do grep -q "listening on" "$hub_out" && break; sleep 0.1; done
port=$(sed -n 's/.*127\.0\.0\.1:\([0-9]*\)\/.*/\1/p' "$hub_out" | head -1)
ok=$(curl -s "http://127.0.0.1:$port/healthz" || true)
owner=$(ps -o user= -p $hub_pid | tr -d ' ')
state_up=""
for _ in $(seq 100); do
    curl -s -H "Authorization: Bearer $(cat "$state/token")" "http://127.0.0.1:$port/api/units" | grep -q '"state":"up"' && { state_up=yes; break; }
    sleep 0.1
done
kill $hub_pid $sim; wait $hub_pid $sim 2>/dev/null || true
[ "$ok" = ok ] || fail "the installed hub did not answer /healthz: $(cat "$hub_out")"
[ "$owner" = tavrion-hub ] || fail "the hub ran as $owner"
[ -n "$state_up" ] || fail "the installed hub never had the unit up"
dpkg --purge tavrion-hub >/dev/null || fail "tavrion-hub did not purge"
installed=""
getent passwd tavrion-hub >/dev/null && fail "the user tavrion-hub is left after purge"
[ ! -e /var/lib/tavrion-hub ] && [ ! -e /etc/tavrion-hub ] && [ ! -e /usr/lib/tavrion-hub ] || fail "files are left after purge"
echo "check-deb: installed, ran as tavrion-hub and purged"
