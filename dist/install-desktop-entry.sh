#!/bin/sh
# Puts Tavrion into your own application menu: writes ~/.local/share/applications/tavrion.desktop,
# which starts the tavrion beside this script, and the icon into ~/.local/share/icons/hicolor.
# Nothing outside your home folder is touched. Run it again after moving the folder;
# "--remove" takes the entry and the icon away again.
set -eu

dir=$(cd "$(dirname "$0")" && pwd -P)
data=${XDG_DATA_HOME:-$HOME/.local/share}
apps=$data/applications
icons=$data/icons/hicolor

case "${1:-}" in
--remove)
    rm -f "$apps/tavrion.desktop" "$icons/48x48/apps/tavrion.png" "$icons/256x256/apps/tavrion.png"
    echo "Removed the Tavrion menu entry."
    exit 0 ;;
"") ;;
*)
    echo "usage: $0 [--remove]" >&2
    exit 2 ;;
esac

if [ ! -x "$dir/tavrion" ] || [ ! -f "$dir/share/tavrion.desktop.in" ]; then
    echo "$dir does not hold an installed Tavrion (tavrion, share/tavrion.desktop.in)." >&2
    exit 1
fi
case "$dir" in
*"
"*) echo "The folder's name contains a line break; move Tavrion to a plain folder name." >&2; exit 1 ;;
esac

# Exec= is a quoted command line: \ " ` $ get a backslash, % is doubled, and then every backslash is
# doubled once more as the file's string escape. TryExec= is a plain string.
exec_path=$(printf '%s' "$dir/tavrion" | sed -e 's/[\\"`$]/\\&/g' -e 's/%/%%/g' -e 's/\\/\\\\/g')
try_path=$(printf '%s' "$dir/tavrion" | sed -e 's/\\/\\\\/g')

mkdir -p "$apps" "$icons/48x48/apps" "$icons/256x256/apps"
tmp="$apps/.tavrion.desktop.$$"
trap 'rm -f "$tmp"' EXIT
while IFS= read -r line || [ -n "$line" ]; do
    case "$line" in
    Exec=@EXEC@) printf 'Exec="%s"\n' "$exec_path" ;;
    TryExec=@TRYEXEC@) printf 'TryExec=%s\n' "$try_path" ;;
    *) printf '%s\n' "$line" ;;
    esac
done < "$dir/share/tavrion.desktop.in" > "$tmp"
chmod 644 "$tmp"
mv -f "$tmp" "$apps/tavrion.desktop"
cp -f "$dir/share/tavrion-48.png" "$icons/48x48/apps/tavrion.png"
cp -f "$dir/share/tavrion-256.png" "$icons/256x256/apps/tavrion.png"
# Menus re-read their folders when these change; a missing tool is no failure.
touch "$icons" 2>/dev/null || true
if command -v update-desktop-database >/dev/null 2>&1; then update-desktop-database -q "$apps" 2>/dev/null || true; fi

echo "Tavrion is in your application menu: $apps/tavrion.desktop (starts $dir/tavrion)."
