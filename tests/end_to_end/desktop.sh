#!/bin/sh
# Runs an end-to-end test on a desktop of its own, made of the tools a desktop is made of:
#   desktop.sh FOLDER [--screen-reader] TEST [ARGUMENT...]
# an X server on a free display (xvfb-run), a session bus (dbus-run-session) and a
# PulseAudio server whose one sink, "counting", plays into nothing. FOLDER, made afresh,
# is the test's home and XDG_RUNTIME_DIR: the sound server's socket and pid file lie in
# FOLDER/pulse. With --screen-reader, Orca too, without braille and the echo of keys, its
# log in FOLDER/orca.log, speaking through speech-dispatcher, whose generic module writes
# each utterance as one line into FOLDER/heard.txt.
# The desktop is a session of its own, which, run as root, comes before the builds
# beside it on a busy machine, its servers and screen reader before the test and the
# program, as on a desktop where nothing else runs: Qt handles a key after 100 ms
# without the screen reader's answer, and Orca, told of it later, cuts short what it
# has said of the key's effects.
set -eu
case $1 in
--session)
    shift
    [ "$(id -u)" -ne 0 ] || { echo -10 > /proc/self/autogroup; first="nice -n -10"; }
    exec ${first:-} xvfb-run -a -s "-screen 0 1024x768x24 -noreset" dbus-run-session -- "$0" --desktop "$@"
    ;;
--desktop) shift ;;
*)
    rm -rf "$1" && mkdir -p -m 700 "$1"
    HOME=$(cd "$1" && pwd)
    shift
    unset XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME XDG_STATE_HOME
    export HOME XDG_RUNTIME_DIR="$HOME" QT_QPA_PLATFORM=xcb
    exec setsid --wait "$0" --session "$@"
    ;;
esac

pulseaudio --start -n --exit-idle-time=-1 --log-target="file:$HOME/pulseaudio.log" \
    --load="module-native-protocol-unix auth-anonymous=1" --load="module-null-sink sink_name=counting"
trap 'pulseaudio --kill' EXIT
# Named, so that no client starts a sound server of its own where this one is not.
export PULSE_SERVER="unix:$HOME/pulse/native"
if [ "$1" = --screen-reader ]; then
    shift
    # speech-dispatcher, which Orca starts, on the settings beside this script.
    mkdir -p "$HOME/.config"
    cp -R "$(dirname "$0")/speech-dispatcher" "$HOME/.config/"
    # Orca as its launcher starts it, but beside other users' tests' Orcas, which the
    # launcher refuses, with its log written line by line (SIGKILL, the only signal that
    # ends it, loses what its own --debug-file buffers), and a line IDLE in its log for
    # each byte written into FOLDER/orca-idle once it has nothing else left to do.
    mkfifo "$HOME/orca-idle"
    /usr/bin/python3 -c 'import os, sys
from gi.repository import GLib
from orca import debug, orca
debug.debugLevel = debug.LEVEL_INFO
debug.debugFile = open(sys.argv[1], "w", buffering=1)
def idle(pipe, condition):
    os.read(pipe, 1)
    debug.println(debug.LEVEL_INFO, "IDLE", True)
    return True
GLib.io_add_watch(os.open(sys.argv[2], os.O_RDWR), GLib.PRIORITY_LOW, GLib.IO_IN, idle)
orca.getSettingsManager().activate(customSettings={"enableBraille": False, "enableKeyEcho": False})
sys.exit(orca.main())' "$HOME/orca.log" "$HOME/orca-idle" > "$HOME/orca.out" 2>&1 &
    orca=$!
    trap 'set +e; kill -KILL $orca; kill $(cat "$HOME/speech-dispatcher/pid/speech-dispatcher.pid"); pulseaudio --kill' EXIT
fi
[ "$(id -u)" -ne 0 ] || set -- nice -n 10 "$@"
"$@"
