#!/bin/sh
# Installs the build into a scratch folder and checks that it is a whole program folder: the
# programs, the default settings, the resolution list, the pictures, the README, the menu entry
# kit, and tavrion-ctl's bash completion and manual page (which must work); that an update keeps
# the user's settings; that the menu entry script writes a valid entry into a scratch home; that
# the installed tavrion-ctl reads the installed simulator through the settings file beside it; that
# the installed hub makes its token and its service file is valid; and that the installed panel
# starts from there.
set -eu
build=${1:?usage: check-install.sh BUILD_DIR}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/Tavrion\ field\ kit

fail() { echo "check-install: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
for f in tavrion tavrion-sim tavrion-ctl tavrion-hub share/tavrion-hub.service share/units.example.json \
         tavrion.ini output_reso.txt README.txt install-desktop-entry.sh \
         share/tavrion.desktop.in share/tavrion-48.png share/tavrion-256.png \
         tavrion-ctl.bash share/man/man1/tavrion-ctl.1; do
    [ -e "$prefix/$f" ] || fail "missing $f"
done
[ -x "$prefix/tavrion" ] || fail "tavrion is not executable"
[ -x "$prefix/tavrion-ctl" ] || fail "tavrion-ctl is not executable"
[ "$(ls "$prefix/bmp" | grep -c '\.bmp$')" -ge 7 ] || fail "bmp/ lacks pictures"
grep -q "serial/COM1" "$prefix/README.txt" || fail "README.txt does not explain serial names"
# README.txt names what the folder holds, and each file it names as being here is here.
for f in $(sed -n 's/^  \([a-z][A-Za-z0-9._-]*\/\{0,1\}\)  .*/\1/p' "$prefix/README.txt"); do
    [ -e "$prefix/$f" ] || fail "README.txt names $f, which the folder lacks"
done
for f in $(grep -o 'share/[A-Za-z0-9._/-]*[A-Za-z0-9]' "$prefix/README.txt" | sort -u); do
    [ -e "$prefix/$f" ] || fail "README.txt points to $f, which the folder lacks"
done

# tavrion-ctl's completion offers verbs and output names; its manual page renders without warnings.
complete_words() {
    bash -c '. "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _tavrion_ctl; echo "${COMPREPLY[*]}"' \
        sh "$prefix/tavrion-ctl.bash" "$@"
}
[ "$(complete_words tavrion-ctl --tcp 10.0.0.7 rou)" = "route" ] || fail "completion does not offer route"
complete_words tavrion-ctl route "" | grep -q "AR" || fail "completion does not offer output names"
complete_words tavrion-ctl --serial CO | grep -q "COM9" || fail "completion does not offer COM ports"
grep -q '^\.TH TAVRION-CTL 1' "$prefix/share/man/man1/tavrion-ctl.1" || fail "tavrion-ctl.1 is no manual page"
if command -v man >/dev/null 2>&1; then
    warnings=$(MANWIDTH=80 man --warnings -l "$prefix/share/man/man1/tavrion-ctl.1" 2>&1 >/dev/null) || true
    [ -z "$warnings" ] || fail "tavrion-ctl.1: $warnings"
fi

# An update over a folder in use keeps the settings the panel wrote.
printf '1\r\n3\r\n#TRUE#\r\n"10.0.0.7"\r\n' > "$prefix/tavrion.ini"
cmake --install "$build" --prefix "$prefix" >/dev/null
grep -q '10.0.0.7' "$prefix/tavrion.ini" || fail "an update replaced the user's tavrion.ini"

# The menu entry goes into the user's own data folder and names the installed program.
XDG_DATA_HOME=$scratch/data HOME=$scratch/home sh "$prefix/install-desktop-entry.sh" >/dev/null
entry=$scratch/data/applications/tavrion.desktop
[ -f "$entry" ] || fail "no desktop entry written"
grep -q "^Exec=\"$prefix/tavrion\"$" "$entry" || fail "desktop entry does not start $prefix/tavrion"
[ -f "$scratch/data/icons/hicolor/256x256/apps/tavrion.png" ] || fail "icon not installed"
if command -v desktop-file-validate >/dev/null 2>&1; then desktop-file-validate "$entry"; fi
XDG_DATA_HOME=$scratch/data sh "$prefix/install-desktop-entry.sh" --remove >/dev/null
[ ! -e "$entry" ] || fail "--remove left the entry"

# The installed simulator answers its help; the installed panel starts offscreen from its folder
# (it exits at once on a bad start, so a panel still running after a moment has started).
"$prefix/tavrion-sim" --help >/dev/null || fail "tavrion-sim --help failed"

# The installed tool takes COM1 from the tavrion.ini beside it: the folder's serial/COM1, here the
# installed simulator.
"$prefix/tavrion-ctl" --help | grep -q "Presets cannot be read out of the device" || fail "tavrion-ctl --help failed"
printf '0\r\n1\r\n#FALSE#\r\n"127.0.0.1"\r\n' > "$prefix/tavrion.ini"
"$prefix/tavrion-sim" --serial "$prefix/serial/COM1" --no-stdin >/dev/null 2>&1 &
sim=$!
tries=0
while [ ! -e "$prefix/serial/COM1" ] && [ $tries -lt 50 ]; do sleep 0.1; tries=$((tries + 1)); done
version=$("$prefix/tavrion-ctl" version 2>&1) || true
kill "$sim"; wait "$sim" 2>/dev/null || true
[ "$version" = "1.06" ] || fail "the installed tavrion-ctl did not read the simulator: $version"
# The installed hub makes its token beside itself, readable by its owner only, and prints the
# address with it (and its QR code); the service file, pointed at this folder, passes systemd's own
# check and its sandbox rating.
shown=$("$prefix/tavrion-hub" --show-url) || fail "tavrion-hub --show-url failed"
url=$(printf '%s\n' "$shown" | head -n 1) # the first address; a note and the QR code follow
token=$(cat "$prefix/tavrion-hub.token")
[ "$url" = "http://127.0.0.1:7720/?token=$token" ] || fail "tavrion-hub --show-url printed $url"
[ "$(stat -c %a "$prefix/tavrion-hub.token")" = 600 ] || fail "the token file is not owner-only"
if command -v systemd-analyze >/dev/null 2>&1; then
    sed -e "s|/home/tavrion/tavrion/tavrion-hub|\"$prefix/tavrion-hub\"|" \
        -e "s|/home/tavrion/tavrion/units.json|\"$prefix/units.json\"|" \
        "$prefix/share/tavrion-hub.service" > "$scratch/tavrion-hub.service"
    systemd-analyze verify "$scratch/tavrion-hub.service" || fail "systemd-analyze verify refused the service file"
    # The service's sandbox: systemd's exposure rating (0 best, 10 worst) stays at 2.0 or lower.
    exposure=$(systemd-analyze security --offline=true "$scratch/tavrion-hub.service" 2>/dev/null \
               | sed -n 's/.*Overall exposure level for .*: \([0-9.]*\).*/\1/p')
    [ -n "$exposure" ] || fail "systemd-analyze security gave no rating"
    awk -v e="$exposure" 'BEGIN { exit !(e <= 2.0) }' || fail "the service's exposure is $exposure, above 2.0"
fi
printf '0\r\n9\r\n#FALSE#\r\n"127.0.0.1"\r\n' > "$prefix/tavrion.ini"
QT_QPA_PLATFORM=offscreen "$prefix/tavrion" >/dev/null 2>&1 &
pid=$!
sleep 2
kill -0 "$pid" 2>/dev/null || fail "the installed panel did not start"
kill "$pid"; wait "$pid" 2>/dev/null || true
echo "check-install: ok ($prefix)"
