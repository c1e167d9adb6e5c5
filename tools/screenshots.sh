#!/usr/bin/env bash
# Screenshots of the real programs for the user guide and the README, written to docs/images/: the Qt
# program on a virtual X display against the display simulator (qt-*.png), the Windows program under
# Wine on a Wine virtual desktop with its demo display (win-*.png). Each program is driven through the
# states the guide shows (start, port list, connected, channel list, slots chosen, written, context
# menu, update window before, during and after a transfer; the open lists from Wine only) by clicks at its controls' places, computed
# from the windows' twips geometry (15 twips a pixel), and every image is cut to the window.
# Run it again after any change to a window, and look at every image before committing it.
# Needs: xvfb-run, xdotool, ImageMagick (import), the Linux build (build/: bash tools/setup.sh) for qt,
# the Windows build (build-windows/: bash tools/windows.sh) and wine64 for windows.
# Usage: tools/screenshots.sh [qt|windows]...   (both when none is named)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$root/docs/images
platforms=("$@")
[ ${#platforms[@]} -gt 0 ] || platforms=(qt windows)

if [ -z "${MORVANDELL_SHOTS:-}" ]; then
    for tool in xvfb-run xdotool import; do
        command -v "$tool" >/dev/null || { echo "$tool is missing (apt-get install xvfb xdotool imagemagick)" >&2; exit 1; }
    done
    exec xvfb-run -a -s "-screen 0 1024x768x24" env MORVANDELL_SHOTS=1 bash "$0" "${platforms[@]}"
fi

mkdir -p "$out"
work=$(mktemp -d "${TMPDIR:-/tmp}/morvandell-shots.XXXXXX")
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    [ -n "${WINEPREFIX:-}" ] && "${wineserver:-true}" -k >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

# A log-definition file as the ECU software writes it (Windows-1252, CR LF), and a firmware image.
printf '%s\r\n' '<?xml version="1.0" encoding="windows-1252"?>' '<channels>' \
    $'\t<channel name="RPM" channel="1" unit="rpm" divider="1" storage="u16"/>' \
    $'\t<channel name="MAP" channel="2" unit="kPa" divider="10" storage="u16"/>' \
    $'\t<channel name="TPS" channel="3" unit="%" divider="1" storage="u8"/>' \
    $'\t<channel name="CLT" channel="4" unit="\xb0C" divider="1" storage="s16"/>' \
    $'\t<channel name="IAT" channel="5" unit="\xb0C" divider="1" storage="s16"/>' \
    $'\t<channel name="Oil_P" channel="12" unit="bar" divider="10" storage="s16"/>' \
    $'\t<channel name="Oil_T" channel="13" unit="\xb0C" divider="1" storage="s16"/>' \
    $'\t<channel name="Batt" channel="20" unit="V" divider="10" storage="u8"/>' \
    $'\t<channel name="Lambda" channel="22" unit="AFR" divider="10" storage="u8"/>' \
    $'\t<channel name="Speed" channel="30" unit="kmh" divider="1" storage="u16"/>' \
    '</channels>' >"$work/Version_3_100.xml"
python3 -c "import sys; open(sys.argv[1], 'wb').write(bytes((i * 7) % 256 for i in range(120000)))" "$work/firmware.bin"

# --- driving a window ------------------------------------------------------------------------------
# The client area's top left on the screen (set per window), and clicks at twips inside it.
ox=0 oy=0
click() { # click LEFT TOP WIDTH HEIGHT [button]: the middle of a control
    xdotool mousemove $((ox + ($1 + $3 / 2) / 15)) $((oy + ($2 + $4 / 2) / 15)) click "${5:-1}"
    sleep "${pause:-0.6}"
}
arrow() { # arrow LEFT TOP WIDTH HEIGHT: a drop-down list's button, which opens it
    xdotool mousemove $((ox + ($1 + $3 - 120) / 15)) $((oy + ($2 + $4 / 2) / 15)) click 1
    sleep "${pause:-0.6}"
}
keys() { xdotool key --delay 120 "$@"; sleep "${pause:-0.6}"; }
typed() { xdotool type --delay 40 "$1"; sleep "${pause:-0.6}"; }
shot() { # shot NAME X Y WIDTH HEIGHT: that part of the screen
    import -window root -crop "$4x$5+$2+$3" +repage "$out/$1.png"
    echo "$out/$1.png"
}

# The control window's controls (twips, in the window's client area; frames add their own offset).
combo5=(240 5040 975 315)     # Frame3 120,4800 + 120,240
connect=(1320 5040 975 375)
command1=(120 0 4815 375)
combo() { # combo LIST: a slot list's rectangle
    case $1 in
    1) echo 240 720 1500 315 ;; 2) echo 240 1080 1500 315 ;; 3) echo 240 1440 1500 315 ;; 4) echo 240 1800 1500 315 ;;
    6) echo 240 2400 1500 315 ;; 7) echo 240 2760 1500 315 ;;
    esac
}
text2=(1800 1080 975 285)     # Frame1 + 1680,600
combo10=(1800 4080 1575 315)  # Frame4 120,3840 + 1680,240
frame4free=(240 4620 60 60)   # a free spot of the settings frame: the window's context menu
command2=(3600 600 1335 3255)
command4=(3480 5040 1335 375)
# The update window's.
loadfile=(120 120 1815 375)
normal=(120 600 1815 375)

pick() { # pick LIST N: opens a slot list and picks its Nth entry with the keys
    # shellcheck disable=SC2046
    arrow $(combo "$1")
    # shellcheck disable=SC2046
    keys $(for _ in $(seq "$2"); do printf 'Down '; done) Return
}

# The states, the same in both programs. $1: file name prefix; form1 and form2 give the windows' places
# (x y width height of the whole window on the screen) and set ox/oy.
drive() {
    local p=$1
    form1; shot "$p-form1-start" "${win[@]}"
    # Qt's drop-down lists do not show on a bare X display: the lists' images come from Wine.
    arrow "${combo5[@]}"; [ "$p" = qt ] || shot "$p-form1-ports" "${win[@]}"
    keys Down Return
    click "${connect[@]}"; sleep 1; shot "$p-form1-connected" "${win[@]}"
    click "${command1[@]}"; sleep 1.5
    typed "$logdef"; keys Return; sleep 1.5
    form1
    # shellcheck disable=SC2046
    arrow $(combo 1); [ "$p" = qt ] || shot "$p-form1-channels" "${win[@]}"
    keys Down Return
    pick 2 6; pick 3 4; pick 4 8; pick 6 10; pick 7 9
    click "${text2[@]}"; keys ctrl+a; typed "Oeldruck"
    arrow "${combo10[@]}"; keys Down Down Return
    shot "$p-form1-slots" "${win[@]}"
    click "${command2[@]}"; sleep 3; shot "$p-form1-written" "${win[@]}"
    click "${frame4free[@]}" 3; shot "$p-form1-menu" "${win[@]}"
    keys Escape
    click "${command4[@]}"; sleep 2
    form2; shot "$p-form2-start" "${win[@]}"
    click "${loadfile[@]}"; sleep 1.5
    typed "$image"; keys Return; sleep 1.5
    form2
    click "${normal[@]}"; sleep "$transferShot"; shot "$p-form2-transfer" "${win[@]}"
    sleep "$transferRest"; shot "$p-form2-done" "${win[@]}"
}

# --- the Qt program against the simulator ----------------------------------------------------------
qt_window() { # qt_window CAPTION: sets ox/oy and win from the window's place (no window manager: no frame)
    local id
    id=$(timeout 20 xdotool search --sync --onlyvisible --name "$1" | head -n 1)
    eval "$(xdotool getwindowgeometry --shell "$id")"
    ox=$X oy=$Y
    win=("$X" "$Y" "$WIDTH" "$HEIGHT")
    xdotool windowfocus "$id" 2>/dev/null || true
}
run_qt() {
    [ -x build/app/morvandell ] && [ -x build/simulator/morvandell-sim ] \
        || { echo "build/ has no program: bash tools/setup.sh first" >&2; return 1; }
    build/simulator/morvandell-sim --link "$work/display" --firmware "V3.100" --ack-delay 8 >"$work/sim.out" 2>&1 &
    pids+=($!)
    for _ in $(seq 50); do [ -e "$work/display" ] && break; sleep 0.1; done
    MORVANDELL_PORTS="1=$work/display" LANG=de_DE.UTF-8 LC_ALL= build/app/morvandell >/dev/null 2>&1 &
    pids+=($!)
    form1() { qt_window '^Morvandell:'; }
    form2() { qt_window '^Firmwareupdate'; }
    logdef=$work/Version_3_100.xml image=$work/firmware.bin transferShot=3 transferRest=12
    drive qt
}

# --- the Windows program under Wine, with its demo display -------------------------------------------
run_windows() {
    local exe=$root/build-windows/app/morvandell.exe
    [ -f "$exe" ] || { echo "no $exe: bash tools/windows.sh first" >&2; return 1; }
    local wine=${MORVANDELL_WINE64:-/usr/lib/wine/wine64}
    wineserver=$(dirname "$wine")/wineserver
    export WINEPREFIX=$work/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
    # German, as the program's users see it: Wine takes the language from the locale, which must exist.
    mkdir -p "$work/locales" && localedef -i de_DE -f UTF-8 "$work/locales/de_DE.UTF-8"
    export LOCPATH=$work/locales LC_ALL=de_DE.UTF-8
    "$wine" wineboot -i >/dev/null 2>&1
    cp "$work/Version_3_100.xml" "$work/firmware.bin" "$WINEPREFIX/drive_c/"
    "$wine" explorer /desktop=Morvandell,800x600 "$exe" --demo >/dev/null 2>&1 &
    pids+=($!)
    timeout 60 xdotool search --sync --onlyvisible --name '^Morvandell - ' >/dev/null
    # The program's first start in a new prefix takes a while; then the window is drawn at leisure.
    sleep 15
    pause=1
    # Both windows open at the desktop's top left: frame 3 pixels, title bar and frame 21 above the client area.
    form1() { ox=3 oy=21; win=(0 0 340 446); }
    form2() { ox=3 oy=21; win=(0 0 270 151); }
    logdef='C:\Version_3_100.xml' image='C:\firmware.bin' transferShot=6 transferRest=140
    drive win
}

for platform in "${platforms[@]}"; do
    case $platform in
    qt) run_qt ;;
    windows) run_windows ;;
    *) echo "unknown: $platform (qt or windows)" >&2; exit 2 ;;
    esac
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    pids=()
done
