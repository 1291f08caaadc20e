#!/usr/bin/env bash
# Builds the .deb, checks what it holds and what it depends on, unpacks it into a temporary root,
# validates its desktop file and metainfo there, and starts the unpacked program under Xvfb until
# its first page appears.
set -euo pipefail
build="$1"
id=org.chronosift.Chronosift
fail() { echo "FAIL: $*" >&2; exit 1; }

cd "$build"
cpack -G DEB >/dev/null
deb=$(ls -t chronosift_*_*.deb | head -1)
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in usr/bin/chronosift usr/bin/chronosift-find \
         usr/share/applications/$id.desktop usr/share/metainfo/$id.metainfo.xml \
         usr/share/icons/hicolor/scalable/apps/$id.svg usr/share/icons/hicolor/48x48/apps/$id.png \
         usr/share/icons/hicolor/256x256/apps/$id.png usr/share/man/man1/chronosift-find.1; do
  grep -qx "./$f" <<<"$contents" || fail "the package lacks $f"
done
depends=$(dpkg-deb -f "$deb" Depends)
grep -q 'libqt6widgets6' <<<"$depends" || fail "Depends lacks the Qt libraries: $depends"
grep -q 'libc6' <<<"$depends" || fail "Depends lacks libc6: $depends"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"
desktop-file-validate "$root/usr/share/applications/$id.desktop" || fail "desktop file"
appstreamcli validate --no-net "$root/usr/share/metainfo/$id.metainfo.xml" >/dev/null || fail "metainfo"
file "$root/usr/bin/chronosift" | grep -q ELF || fail "the program is not an executable"

# The unpacked program starts and shows its folder page, a window named "Chronosift".
export HOME="$root/home" XDG_RUNTIME_DIR="$root/run"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
timeout 60 xvfb-run -a -s '-screen 0 1024x768x24' bash -c '
  "$0" & pid=$!
  found=""
  for _ in $(seq 100); do
    found=$(xdotool search --onlyvisible --name "^Chronosift$" 2>/dev/null | head -1) && [ -n "$found" ] && break
    sleep 0.2
  done
  kill $pid 2>/dev/null; wait $pid 2>/dev/null
  [ -n "$found" ]
' "$root/usr/bin/chronosift" || fail "the installed program did not show its first page"
echo "package ok: $deb"
