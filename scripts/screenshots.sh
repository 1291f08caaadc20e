#!/usr/bin/env bash
# Starts the real program under Xvfb, fills the folder list from the keyboard, and saves a PNG
# of each page into docs/ (or the folder given).
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-docs}"
mkdir -p "$out"

need=()
for p in xvfb xdotool imagemagick; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  as_root=(); [ "$(id -u)" -ne 0 ] && as_root=(sudo)
  "${as_root[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${need[@]}"
fi
[ -x build/chronosift ] || scripts/build.sh

# A small home folder with a few files of different ages.
demo=$(mktemp -d /tmp/chronosift-demo-XXXXXX)
trap 'kill $app $xvfb 2>/dev/null || true; rm -rf "$demo"' EXIT
mkdir -p "$demo/Documents/Letters" "$demo/Pictures/2004" "$demo/Projects/old"
for f in Documents/report.odt Documents/Letters/bank.txt Documents/Letters/insurance.txt \
         Pictures/2004/beach.jpg Pictures/2004/garden.jpg Projects/old/notes.md \
         Projects/old/build.log Projects/todo.txt; do
  echo "$f" > "$demo/$f"
done
touch -d '2003-05-17 10:21:08' "$demo/Documents/Letters/bank.txt" "$demo/Pictures/2004/beach.jpg"
touch -d '2004-08-02 16:45:00' "$demo/Pictures/2004/garden.jpg" "$demo/Projects/old/notes.md"
touch -d '2005-11-30 00:00:00' "$demo/Projects/old/build.log"
touch -d '2006-06-30 09:12:44' "$demo/Documents/Letters/insurance.txt"

display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=$display
sleep 1
HOME="$demo" XDG_RUNTIME_DIR="$demo" build/chronosift &
app=$!
for _ in $(seq 50); do
  win=$(xdotool search --name '^Chronosift$' 2>/dev/null | head -1) && [ -n "$win" ] && break
  sleep 0.2
done
xdotool windowfocus --sync "$win"
keys() { xdotool key --delay 120 "$@"; sleep 0.3; }

# The tree has the focus: Desktop, then the home folder; open it and add three of its folders.
keys Home Down Right Down        # Documents
keys Tab space shift+Tab         # Add Folder, and back to the tree
keys Down Tab space shift+Tab    # Pictures
keys Down Tab space shift+Tab    # Projects
import -window root -crop 570x428+227+170 "$out/folder-page.png"

# On to the date page: Add Folder, the list, Remove, Clear, Exit, then Next.
keys Tab Tab Tab Tab Tab Tab space
sleep 1
win2=$(xdotool search --name '^Chronosift$' | tail -1)
xdotool windowfocus --sync "$win2" || true
# "Before this date:" 30 June 2006, "Find Results", and check the first and third rows.
xdotool mousemove 291 238 click 1
sleep 0.3
xdotool mousemove 651 311 click 1
sleep 0.5
xdotool mousemove 245 357 click 1
sleep 0.2
xdotool mousemove 245 385 click 1
sleep 0.2
xdotool mousemove 500 520
sleep 0.3
import -window root -crop 570x372+227+170 "$out/date-page.png"
echo "saved $out/folder-page.png and $out/date-page.png"
