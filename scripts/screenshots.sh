#!/usr/bin/env bash
# Starts the real program under Xvfb, fills the folder list from the keyboard, and saves a PNG
# of each page into docs/ (or the folder given).
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-docs}"
mkdir -p "$out"

need=()
for p in xvfb xdotool imagemagick openbox x11-utils; do
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
trap 'rm -rf "$demo"' EXIT
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
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done
# A window manager, so that the pictures show the pages in their frames.
openbox >/dev/null 2>&1 &
wm=$!
for _ in $(seq 50); do xprop -root _NET_SUPPORTED 2>/dev/null | grep -q _NET_ACTIVE_WINDOW && break; sleep 0.1; done
mkdir -p "$demo.run" && chmod 700 "$demo.run"
HOME="$demo" XDG_RUNTIME_DIR="$demo.run" LANG=C.UTF-8 build/chronosift &
app=$!
trap 'kill $app $wm $xvfb 2>/dev/null || true; rm -rf "$demo" "$demo.run"' EXIT
win=$(xdotool search --sync --onlyvisible --name '^Chronosift$' | head -1)
xdotool windowactivate --sync "$win"
sleep 0.5
keys() { xdotool key --delay 120 "$@"; sleep 0.3; }

# Saves the window that has the keyboard, frame included.
shot() {
  local w x y width height extents left right top bottom
  w=$(xdotool getactivewindow)
  # The client's place on the screen, and the frame's width on each side.
  read -r X Y WIDTH HEIGHT < <(xwininfo -id "$w" |
    awk '/Absolute upper-left X/{x=$NF} /Absolute upper-left Y/{y=$NF} /Width:/{w=$NF} /Height:/{h=$NF} END{print x, y, w, h}')
  extents=$(xprop -id "$w" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')
  read -r left right top bottom <<<"${extents:-0 0 0 0}"
  import -window root -crop "$((WIDTH + left + right))x$((HEIGHT + top + bottom))+$((X - left))+$((Y - top))" \
    +repage "$1"
}

# The tree has the focus: Desktop, then the home folder; open it and add three of its folders.
keys Home Down Right Down        # Documents
keys Tab space shift+Tab         # Add Folder, and back to the tree
keys Down Tab space shift+Tab    # Pictures
keys Down Tab space shift+Tab    # Projects
keys Down Left Up                # fold "My Computer", back to Projects
shot "$out/folder-page.png"

# On to the date page: Add Folder, the list, Remove, Clear, Exit, then Next.
keys Tab Tab Tab Tab Tab Tab space
for _ in $(seq 100); do [ "$(xdotool getactivewindow)" != "$win" ] && break; sleep 0.1; done
sleep 0.5
# "Before this date:" 30 June 2006, "Find Results", and check the first and third rows.
keys Down Tab Tab Tab space  # the option, its picker, "< < Back", "Find Results"
keys Tab Home
keys space
keys Down Down
keys space
sleep 0.5
xdotool mousemove 1000 740
sleep 0.3
shot "$out/date-page.png"
echo "saved $out/folder-page.png and $out/date-page.png"
