#!/usr/bin/env bash
# Takes a picture of the desktop program without a desktop:
#   scripts/screenshot.sh [ARGS...] OUT.png
# starts build/bin/tavrion-converter ARGS... on a private Xvfb display, waits for its window,
# lets it settle, and saves the whole screen as OUT.png.
#
# The program runs with a fresh home, data folder and registry of its own (so the first-start
# notice box shows and nothing of the user's settings is touched), unless
# SCREENSHOT_HOME=DIR names a folder to keep them in between runs.
# Other settings: BUILD_DIR (build), SCREENSHOT_SIZE (1024x800), SCREENSHOT_DELAY (seconds
# after the window appeared, 1.5), SCREENSHOT_TIMEOUT (seconds to wait for the window, 30),
# SCREENSHOT_CLICKS (screen points to click first, "x,y x,y ...", needs xdotool),
# SCREENSHOT_KEYS (keys to press after the clicks, one a second, in xdotool's names:
# "alt+c" presses Convert), SCREENSHOT_PROFILE (settings written into the program's profile
# before it starts, "SECTION/KEY=VALUE ...": "PREFERENCES/SIMULTANEOUS=2
# GREATINGBOX/DONTSHOWAGAIN=1" converts two movies at once and skips the first-start notice).
# SCREENSHOT_PALETTE=dark (the Fusion style with a dark palette, as a dark desktop theme
# gives it, through the qt6ct platform theme). QT_SCALE_FACTOR and the like pass through.
# Needs Xvfb (xvfb), xwd (x11-apps), xwininfo (x11-utils), convert (imagemagick) and, for
# the dark palette, qt6ct.
set -euo pipefail

if [ $# -lt 1 ]; then
  echo "usage: $0 [ARGS...] OUT.png" >&2
  exit 2
fi
out=${!#}
args=("${@:1:$#-1}")
case "$out" in
  *.png) ;;
  *) echo "$0: the last argument must be the output file (*.png), got '$out'" >&2; exit 2 ;;
esac

here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$here/build}
program=$build/bin/tavrion-converter
size=${SCREENSHOT_SIZE:-1024x800}
delay=${SCREENSHOT_DELAY:-1.5}
timeout=${SCREENSHOT_TIMEOUT:-30}

for tool in Xvfb xwd xwininfo convert; do
  command -v "$tool" >/dev/null || { echo "$0: $tool is missing (run scripts/setup.sh)" >&2; exit 1; }
done
[ -x "$program" ] || { echo "$0: $program is not built (cmake --build $build --target tavrion-converter)" >&2; exit 1; }

work=$(mktemp -d)
xvfb_pid=""
app_pid=""
cleanup() {
  if [ -n "$app_pid" ]; then kill "$app_pid" 2>/dev/null || true; wait "$app_pid" 2>/dev/null || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display number itself and tells it through a pipe, so two scripts
# started at once never share a display.
mkfifo "$work/displayfd"
Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3>"$work/displayfd" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
display=""
read -r -t 20 display <"$work/displayfd" || true
if [ -z "$display" ]; then
  echo "$0: Xvfb did not start:" >&2
  cat "$work/xvfb.log" >&2
  exit 1
fi
for _ in $(seq 1 100); do
  LC_ALL=C.UTF-8 xwininfo -root -display ":$display" >/dev/null 2>&1 && break
  sleep 0.1
done
export DISPLAY=":$display"
unset WAYLAND_DISPLAY
export QT_QPA_PLATFORM=xcb

home=${SCREENSHOT_HOME:-$work/home}
mkdir -p "$home"
home=$(cd "$home" && pwd)
if [ -n "${SCREENSHOT_PROFILE:-}" ]; then
  profile_dir=$home/.local/share/Merolan/tavrion-converter
  mkdir -p "$profile_dir"
  # One [SECTION] with its keys under it, sections in the order first named.
  for item in $SCREENSHOT_PROFILE; do
    printf '%s\n' "$item"
  done | awk -F/ '{ sec = $1; kv = substr($0, length(sec) + 2);
                    if (!(sec in seen)) { seen[sec] = 1; order[++n] = sec }
                    keys[sec] = keys[sec] kv "\n" }
                  END { for (i = 1; i <= n; i++) printf "[%s]\n%s", order[i], keys[order[i]] }' \
    >>"$profile_dir/tavrion-converter.ini"
fi
case "${SCREENSHOT_PALETTE:-}" in
  "") ;;
  dark)
    scheme=/usr/share/qt6ct/colors/darker.conf
    [ -f "$scheme" ] || { echo "$0: $scheme is missing (run scripts/setup.sh)" >&2; exit 1; }
    mkdir -p "$home/.config/qt6ct"
    printf '[Appearance]\ncolor_scheme_path=%s\ncustom_palette=true\nstyle=Fusion\n' "$scheme" \
      >"$home/.config/qt6ct/qt6ct.conf"
    export QT_QPA_PLATFORMTHEME=qt6ct
    ;;
  *) echo "$0: SCREENSHOT_PALETTE is 'dark' or unset, got '$SCREENSHOT_PALETTE'" >&2; exit 2 ;;
esac
(
  export HOME=$home XDG_CONFIG_HOME=$home/.config XDG_DATA_HOME=$home/.local/share
  export XDG_CACHE_HOME=$home/.cache TAVRION_REGISTRY_DIR=$home/registry
  exec "$program" "${args[@]}"
) >"$work/app.log" 2>&1 &
app_pid=$!

# Window titles are read in UTF-8 whatever locale the program was given (a Korean title
# reads as no name at all in a locale that is not installed).
# Wait for a top-level window titled with the program's name.
waited=0
until LC_ALL=C.UTF-8 xwininfo -root -tree 2>/dev/null | grep -q '"Tavrion Converter'; do
  if ! kill -0 "$app_pid" 2>/dev/null; then
    echo "$0: the program ended before showing its window:" >&2
    kill -0 "$xvfb_pid" 2>/dev/null || { echo "(Xvfb is gone:)" >&2; cat "$work/xvfb.log" >&2; }
    cat "$work/app.log" >&2
    exit 1
  fi
  sleep 0.2
  waited=$((waited + 1))
  if [ "$waited" -ge $((timeout * 5)) ]; then
    echo "$0: no window after ${timeout}s" >&2
    cat "$work/app.log" >&2
    exit 1
  fi
done
# Clicks at screen points ("x,y x,y ..."), one a second, before the delay: e.g. closing the
# notice box and pressing Convert shows a batch mid-run.
if [ -n "${SCREENSHOT_CLICKS:-}" ]; then
  command -v xdotool >/dev/null || { echo "$0: SCREENSHOT_CLICKS needs xdotool (run scripts/setup.sh)" >&2; exit 1; }
  for point in $SCREENSHOT_CLICKS; do
    sleep 1
    xdotool mousemove --sync "${point%,*}" "${point#*,}" click 1
  done
fi
if [ -n "${SCREENSHOT_KEYS:-}" ]; then
  command -v xdotool >/dev/null || { echo "$0: SCREENSHOT_KEYS needs xdotool (run scripts/setup.sh)" >&2; exit 1; }
  # Without a window manager nothing gives the program the keyboard: its window is focused
  # first.
  window=$(xdotool search --name '^Tavrion Converter' 2>/dev/null | head -n 1 || true)
  for key in $SCREENSHOT_KEYS; do
    sleep 1
    [ -n "$window" ] && xdotool windowfocus --sync "$window" 2>/dev/null || true
    xdotool key --clearmodifiers "$key"
  done
fi
sleep "$delay"

# The screen, then every mapped top-level window read on its own and laid over it from the
# bottom of the stack up: without a window manager a window mapped late (a modal dialog)
# may show only in its own contents, not yet in the screen's picture.
xwd -root -silent -display ":$display" >"$work/screen.xwd"
# Room above the screen for the title bar of a window at its top.
title_px=22
font=()
for f in /usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf; do
  if [ -f "$f" ]; then font=(-font "$f"); break; fi
done
# Titles in Korean (the program follows the locale) need a face with Hangul.
hangul_font=()
for f in /usr/share/fonts/truetype/nanum/NanumGothicBold.ttf /usr/share/fonts/truetype/nanum/NanumGothic.ttf; do
  if [ -f "$f" ]; then hangul_font=(-font "$f"); break; fi
done
layers=("(" "xwd:$work/screen.xwd" -background "#202020" -gravity northwest -splice "0x$title_px" ")")
i=0
# The part of the screen the windows cover; each window gets a border and a title bar with
# its title, as a window manager would draw them.
read -r right bottom <<<"0 0"
while read -r id x y w h title; do
  i=$((i + 1))
  if xwd -id "$id" -silent -display ":$display" >"$work/win$i.xwd" 2>/dev/null; then
    title_font=("${font[@]}")
    if [ ${#hangul_font[@]} -gt 0 ] && printf '%s' "$title" | LC_ALL=C grep -q '[^ -~]'; then
      title_font=("${hangul_font[@]}")
    fi
    layers+=("(" "xwd:$work/win$i.xwd" -background "#33475e" -gravity northwest -splice "0x$title_px"
             -fill white "${title_font[@]}" -pointsize 12 -annotate "+8+4" "$title" -gravity northwest
             -bordercolor "#33475e" -border 1 ")" -geometry "+$((x - 1))+$((y - 1))" -composite)
    [ $((x + w + 1)) -gt "$right" ] && right=$((x + w + 1))
    [ $((y + h + title_px + 1)) -gt "$bottom" ] && bottom=$((y + h + title_px + 1))
  fi
done < <(
  # xwininfo lists the top-most window first; composite bottom-up.
  LC_ALL=C.UTF-8 xwininfo -root -children -display ":$display" |
    awk '/^ +0x[0-9a-f]+ "/ { match($0, /[0-9]+x[0-9]+\+-?[0-9]+\+-?[0-9]+/);
                              g = substr($0, RSTART, RLENGTH); split(g, a, /[x+]/);
                              t = $0; sub(/^[^"]*"/, "", t); sub(/".*$/, "", t);
                              if (a[1] > 8 && a[2] > 8) print $1, a[3], a[4], a[1], a[2], t }' | tac |
    while read -r id x y w h title; do
      LC_ALL=C.UTF-8 xwininfo -id "$id" -display ":$display" | grep -q 'IsViewable' && echo "$id $x $y $w $h $title"
    done
)
crop=()
if [ "$right" -gt 0 ] && [ "$bottom" -gt 0 ]; then
  crop=(-crop "${right}x${bottom}+0+0" +repage)
fi
convert "${layers[@]}" "${crop[@]}" "png:$out"
echo "$out"
