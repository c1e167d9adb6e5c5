#!/usr/bin/env bash
# morvandell-cli.exe under Wine against the Linux display simulator on a pseudo-terminal that the Wine
# prefix knows as COM3 (listed in the system's serial-port registry, as a real port would be): identify;
# configure, the frames byte for byte as the Linux tool sends them; reset; flash, the image byte for byte
# at 9600 baud; a silent display (status 3); a missing port (status 2); the display gone in the middle of
# a flash (status 4, one message); a display that reports a record stored otherwise (status 7).
#   cli_e2e.sh test  SIM HOST-CLI CLI.exe DATA-FOLDER WORK-FOLDER
#   cli_e2e.sh bench SIM HOST-CLI CLI.exe DATA-FOLDER WORK-FOLDER   (times a full flash: Linux vs Wine)
# WINEPREFIX must name a prefix whose session runs (tests/wine/prefix.sh setup).
set -uo pipefail
mode=$1 sim=$2 hostcli=$3 cli=$4 data=$5 work=$6
wine=${MORVANDELL_WINE64:-/usr/lib/wine/wine64}
[ -n "${WINEPREFIX:-}" ] || { echo "FAILED: WINEPREFIX is not set"; exit 1; }
rm -rf "$work"
mkdir -p "$work"
failed=0
fail() { echo "FAILED: $*"; failed=1; }
pass() { echo "ok: $*"; }

# A Unix path as Wine's Z: drive shows it.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

simpid=
# start_sim NAME [simulator options]: the display behind $work/NAME, which is COM3 from now on.
start_sim() {
    local name=$1
    shift
    "$sim" --link "$work/$name" "$@" >"$work/$name.out" 2>"$work/$name.log" &
    simpid=$!
    for _ in $(seq 100); do
        [ -s "$work/$name.out" ] && break
        sleep 0.05
    done
    [ -s "$work/$name.out" ] || { fail "the simulator did not start ($name)"; return 1; }
    ln -sfn "$work/$name" "$WINEPREFIX/dosdevices/com3"
}
stop_sim() {
    [ -n "$simpid" ] && kill -TERM "$simpid" 2>/dev/null && wait "$simpid" 2>/dev/null
    simpid=
    rm -f "$WINEPREFIX/dosdevices/com3"
}
trap stop_sim EXIT

# run NAME STATUS PROGRAM ARGS...: runs it with its output in $work/NAME.{out,err}, checks the status.
run() {
    local name=$1 expected=$2
    shift 2
    "$@" >"$work/$name.stdout" 2>"$work/$name.stderr" </dev/null
    local status=$?
    if [ "$status" -ne "$expected" ]; then
        fail "$name: exit status $status, expected $expected"
        sed 's/^/    out: /' "$work/$name.stdout"
        sed 's/^/    err: /' "$work/$name.stderr"
        return 1
    fi
}
has() { # has NAME stdout|stderr TEXT
    grep -qF -- "$3" "$work/$1.$2" || { fail "$1: \"$3\" not in its $2"; sed "s/^/    $2: /" "$work/$1.$2"; return 1; }
}
# The frames a simulator received, one line each, without the times.
frames() { sed -n 's/^[0-9:.]* <- #/#/p' "$work/$1.log"; }

# The image: 1000 blocks' worth of a fixed pattern, and what the display must hold after the transfer
# (the rest of the 1016 blocks filled with 0xFF).
python3 - "$work/image.bin" "$work/expected.bin" <<'PY'
import sys
image = bytes((i * 7 + i // 256) & 0xFF for i in range(128000))
open(sys.argv[1], "wb").write(image)
open(sys.argv[2], "wb").write(image + b"\xff" * (1016 * 128 - len(image)))
PY

"$wine" reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v '\Device\MorvandellTest3' /t REG_SZ /d COM3 /f \
    >/dev/null 2>&1 || fail "COM3 not entered in the serial-port registry"

if [ "$mode" = bench ]; then
    # A full flash with instant acknowledgements: the time of the whole program, Linux and Windows under
    # Wine. The ready byte comes 100 ms after the update frame: one that comes before the port is open
    # again at 9600 baud is discarded by the open, and under Wine on a busy machine closing and opening
    # can take 20 ms.
    start_sim linux --ready-delay 100 || exit 1
    start=$EPOCHREALTIME
    run bench-linux 0 "$hostcli" flash --port "$work/linux" "$work/image.bin"
    linux=$(python3 -c "print($EPOCHREALTIME - $start)")
    stop_sim
    start_sim windows --ready-delay 100 || exit 1
    start=$EPOCHREALTIME
    run bench-windows 0 "$wine" "$cli" flash --port 3 "$(winpath "$work/image.bin")"
    windows=$(python3 -c "print($EPOCHREALTIME - $start)")
    stop_sim
    printf 'Full flash (1016 blocks, instant answers): Linux %.2f s, Windows under Wine %.2f s, ratio %.2f\n' \
        "$linux" "$windows" "$(python3 -c "print($windows / $linux)")"
    exit $failed
fi

# identify
start_sim identify && run identify 0 "$wine" "$cli" identify --port 3 && has identify stdout "V1.0" &&
    pass "identify"
stop_sim

# configure: the same frames as the Linux tool's, byte for byte
options=(--slot 2=Oil_P --name 2=Oeldruck_lang --unit 5=Volt --view 3)
if start_sim configure-linux && run configure-linux 0 "$hostcli" configure --port "$work/configure-linux" \
    --logdef "$data/logdef_sample.xml" "${options[@]}"; then
    stop_sim
    if start_sim configure && run configure 0 "$wine" "$cli" configure --port 3 \
        --logdef "$(winpath "$data/logdef_sample.xml")" "${options[@]}"; then
        stop_sim
        writes=$(frames configure | grep -c 'write frame')
        [ "$writes" -eq 9 ] || fail "configure: $writes write frames, expected 9"
        [ "$(grep -c -- '-> OK' "$work/configure.stdout")" -eq 9 ] || fail "configure: not nine answers shown"
        grep -q '!!' "$work/configure.log" && fail "configure: the display saw something wrong: $(grep '!!' "$work/configure.log")"
        # Oil_P in slot 2: channel 12, divider 10, unit bar, the name cut to 8 characters.
        frames configure | grep -qF 'write frame @0x0020: 4F 65 6C 64 72 75 63 6B 00 0C 0A 62 61 72 00 00' ||
            fail "configure: slot 2's frame is not Oil_P's"
        if diff <(frames configure-linux) <(frames configure) >"$work/configure.diff"; then
            pass "configure: the nine frames as the Linux tool's"
        else
            fail "configure: frames differ from the Linux tool's:"
            cat "$work/configure.diff"
        fi
    fi
fi
stop_sim

# reset
start_sim reset && run reset 0 "$wine" "$cli" reset --port 3 && has reset stdout "-> Reset" && pass "reset"
stop_sim

# flash: the image byte for byte, sent at 9600 baud (the line's settings sampled while it runs)
if start_sim flash --ready-delay 100 --image-out "$work/received.bin"; then
    python3 - "$(cat "$work/flash.out")" "$work/speeds" <<'PY' &
import fcntl, os, struct, sys, termios, time
fd = os.open(sys.argv[1], os.O_RDONLY | os.O_NOCTTY | os.O_NONBLOCK)
# A speed the tool never sets, so that what follows is the tool's doing.
settings = termios.tcgetattr(fd)
settings[4] = settings[5] = termios.B4800
termios.tcsetattr(fd, termios.TCSANOW, settings)
open(sys.argv[2] + ".ready", "w").close()
seen = []
deadline = time.time() + 300
while time.time() < deadline and not os.path.exists(sys.argv[2] + ".stop"):
    fields = struct.unpack("<IIIIB19sII", fcntl.ioctl(fd, 0x802C542A, bytes(44)))  # TCGETS2
    line = "%d %d" % (fields[7], fields[2] & 0x240)  # output speed; CSTOPB | PARODD
    if not seen or seen[-1] != line:
        seen.append(line)
    time.sleep(0.002)
open(sys.argv[2], "w").write("\n".join(seen) + "\n")
PY
    watcher=$!
    for _ in $(seq 100); do
        [ -f "$work/speeds.ready" ] && break
        sleep 0.05
    done
    if run flash 0 "$wine" "$cli" flash --port 3 "$(winpath "$work/image.bin")" && has flash stdout "Fertig."; then
        sleep 0.2
        if cmp -s "$work/received.bin" "$work/expected.bin"; then
            pass "flash: the image byte for byte"
        else
            fail "flash: the display holds another image"
        fi
        grep -q '!!' "$work/flash.log" && fail "flash: the display saw something wrong: $(grep '!!' "$work/flash.log" | head -3)"
    fi
    touch "$work/speeds.stop"
    wait "$watcher"
    # 19200 for the update frame (it may pass between two looks), then 9600 with one stop bit and no odd
    # parity for the image, and nothing else.
    if [ "$(tail -n 1 "$work/speeds")" = "9600 0" ] &&
        ! grep -v -e '^4800 0$' -e '^9600 0$' -e '^19200 0$' "$work/speeds" | grep -q .; then
        pass "flash: at 9600 8N1"
    else
        fail "flash: line settings seen: $(tr '\n' ';' <"$work/speeds")"
    fi
fi
stop_sim

# a display that reports slot 3's record stored otherwise: every frame written, the difference told
if start_sim wrong --eeprom-report --wrong-record 0x30 && run wrong 7 "$wine" "$cli" configure --port 3 \
    --logdef "$(winpath "$data/logdef_sample.xml")" --slot 3=Oil_P &&
    has wrong stdout "Platz 3: abweichend gespeichert: gesendet Name „Oil_P   “, Kanal 12, Teiler 10, Einheit „bar“; gespeichert Name „Pil_P   “" &&
    has wrong stdout "Einstellungen: geprüft" &&
    has wrong stderr "Das Display hat nicht gespeichert, was gesendet wurde: Platz 3."; then
    pass "record stored otherwise: status 7"
fi
stop_sim

# a silent display
start_sim silent --silent && run silent 3 "$wine" "$cli" identify --port 3 && has silent stderr "Timeout" &&
    pass "silent display: status 3"
stop_sim

# a port without a device
run missing 2 "$wine" "$cli" identify --port 9 && has missing stderr "kein Gerät gefunden" && pass "missing port: status 2"

# the display gone in the middle of a flash: one message
if start_sim gone --ready-delay 100 --close-after-block 5 &&
    run gone 4 "$wine" "$cli" flash --port 3 "$(winpath "$work/image.bin")" && has gone stderr "5 von 1016 Blöcken"; then
    messages=$(grep -v -e '^$' -e ' · Block [0-9]*/1016' "$work/gone.stderr" | grep -c .)
    if [ "$messages" -eq 1 ]; then
        pass "display gone mid-flash: status 4, one message"
    else
        fail "display gone mid-flash: $messages messages"
        sed 's/^/    err: /' "$work/gone.stderr"
    fi
fi
stop_sim

"$wine" reg delete 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v '\Device\MorvandellTest3' /f >/dev/null 2>&1
exit $failed
