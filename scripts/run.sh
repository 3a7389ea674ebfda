#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Starts Flowbright. On a machine without a display it starts a virtual one (Xvfb) with a
# window manager and a tray, saves a screenshot of the main window, and ends the program the way
# a desktop logout does (SIGTERM), so that it writes its files.
#
# Flowbright is a desktop program and never runs as root. Started by root, this script runs it
# as the user who asked for it (the sudo user, or the owner of the display), else as `nobody`
# with a home of its own beside the program; in both cases without the raw-socket capability,
# which not even the program file can give back (it is dropped from the bounding set).
set -euo pipefail
program=${1:-build/flowbright}
program=$(realpath "$program")
build_dir=$(dirname "$program")

# ---- Who runs the program --------------------------------------------------------------------
run_user="" run_group="" user_home=${HOME:-} user_config=${XDG_CONFIG_HOME:-${HOME:-}/.config}
temp_dirs=()
user_env=()

# Prints the owner of the local display's socket (X11 or Wayland) or of its X authority file.
display_owner() {
    local files=() number file
    if [ -n "${DISPLAY:-}" ]; then
        number=${DISPLAY#*:}
        number=${number%%.*}
        case ${DISPLAY%%:*} in "" | unix) files+=("/tmp/.X11-unix/X$number") ;; esac
        files+=("${XAUTHORITY:-}")
    fi
    if [ -n "${WAYLAND_DISPLAY:-}" ]; then
        case $WAYLAND_DISPLAY in
            /*) files+=("$WAYLAND_DISPLAY") ;;
            *) files+=("${XDG_RUNTIME_DIR:-/nonexistent}/$WAYLAND_DISPLAY") ;;
        esac
    fi
    for file in "${files[@]}"; do
        [ -n "$file" ] && [ -e "$file" ] && { stat -c %U -- "$file"; return; }
    done
    return 0
}

# The unprivileged user for a run started by root: the person who asked for it, never root.
choose_user() {
    local candidates=("${SUDO_USER:-}") candidate uid
    [ -n "$virtual_display" ] || candidates+=("$(display_owner)")
    for candidate in "${candidates[@]}"; do
        [ -n "$candidate" ] || continue
        uid=$(id -u -- "$candidate" 2>/dev/null) || continue
        [ "$uid" -ne 0 ] && { run_user=$candidate; return; }
    done
    run_user=nobody
}

as_user() { setpriv --reuid="$run_user" --regid="$run_group" --init-groups -- "$@"; }

# The program file the user runs: the built one when the user can reach it and it carries no
# file capability (which the dropped bounding set would turn into a refused start); otherwise a
# root-owned, world-readable copy, which carries none.
choose_program() {
    if as_user test -r "$program" -a -x "$program" &&
        [ -z "$(getcap "$program" 2>/dev/null)" ]; then
        return
    fi
    local dir
    for dir in "$build_dir/run" ""; do
        if [ -z "$dir" ]; then
            dir=$(mktemp -d /tmp/flowbright-run.XXXXXX)
            temp_dirs+=("$dir")
        fi
        install -d -m 0755 -- "$dir"
        install -m 0755 -- "$program" "$dir/flowbright"
        if as_user test -r "$dir/flowbright" -a -x "$dir/flowbright"; then
            program=$dir/flowbright
            return
        fi
    done
    echo "The user $run_user cannot reach a copy of $program" >&2
    exit 1
}

owned_by_user() { [ ! -L "$1" ] && [ "$(stat -c %u -- "$1")" = "$(id -u -- "$run_user")" ]; }

# A directory owned by the user, mode 0700, made afresh when it is not already so.
user_dir() {
    local dir=$1
    if [ -L "$dir" ] || { [ -e "$dir" ] && ! owned_by_user "$dir"; }; then
        rm -rf -- "$dir"
    fi
    install -d -m 0700 -o "$run_user" -g "$run_group" -- "$dir"
}

# The user's home; an account without a home of its own (`nobody`) gets one beside the program.
choose_home() {
    user_home=$(getent passwd "$run_user" | cut -d: -f6)
    user_config=$user_home/.config
    if [ -z "$user_home" ] || ! as_user test -d "$user_home" -a -w "$user_home"; then
        user_home=$build_dir/run-home
        user_dir "$user_home"
        if ! as_user test -w "$user_home"; then
            # The build tree is closed to the user: a home for this run only.
            user_home=$(mktemp -d /tmp/flowbright-home.XXXXXX)
            temp_dirs+=("$user_home")
            user_dir "$user_home"
        fi
        user_config=$user_home/.config
        as_user mkdir -p -- "$user_config" "$user_home/.local/share" "$user_home/.local/state" \
            "$user_home/.cache"
        user_env+=(XDG_CONFIG_HOME="$user_config" XDG_DATA_HOME="$user_home/.local/share"
            XDG_STATE_HOME="$user_home/.local/state" XDG_CACHE_HOME="$user_home/.cache")
    fi
    user_env+=(HOME="$user_home")
}

# The session's runtime directory: the user's own where the login manager made one.
choose_runtime_dir() {
    local dir
    dir=/run/user/$(id -u -- "$run_user")
    if ! [ -d "$dir" ] || ! owned_by_user "$dir"; then
        dir=$(mktemp -d /tmp/flowbright-runtime.XXXXXX)
        temp_dirs+=("$dir")
        chown -- "$run_user:$run_group" "$dir"
        chmod 0700 -- "$dir"
    fi
    user_env+=(XDG_RUNTIME_DIR="$dir")
}

# The X authority of the display: the one named by XAUTHORITY, else root's own unless the user
# has one; passed on when it is the user's file, else as a copy of the display's cookie.
share_x_authority() {
    [ -z "$virtual_display" ] && [ -n "${DISPLAY:-}" ] || return 0
    local source=${XAUTHORITY:-}
    if [ -z "$source" ]; then
        as_user test -e "$user_home/.Xauthority" && return 0
        source=${HOME:-/root}/.Xauthority
    fi
    [ -r "$source" ] || return 0
    if [ "$(stat -c %U -- "$source")" = "$run_user" ]; then
        user_env+=(XAUTHORITY="$source")
        return
    fi
    local copy=$user_home/.Xauthority-flowbright
    as_user rm -f -- "$copy"
    as_user touch -- "$copy"
    xauth -f "$source" extract - "$DISPLAY" 2>/dev/null | as_user xauth -q -f "$copy" merge - ||
        return 0
    [ -s "$copy" ] && user_env+=(XAUTHORITY="$copy")
    return 0
}

# Sets `launch`, the command that starts the program (as an unprivileged user when root).
prepare_launch() {
    launch=("$program")
    [ "$(id -u)" -eq 0 ] || return 0
    choose_user
    run_group=$(id -g -- "$run_user")
    choose_program
    user_env=(PATH=/usr/local/bin:/usr/bin:/bin USER="$run_user" LOGNAME="$run_user")
    local var
    for var in LANG LANGUAGE LC_ALL LC_CTYPE LC_MESSAGES TERM DISPLAY WAYLAND_DISPLAY \
        QT_QPA_PLATFORM; do
        if [ -n "${!var:-}" ]; then user_env+=("$var=${!var}"); fi
    done
    choose_home
    choose_runtime_dir
    share_x_authority
    launch=(setpriv --reuid="$run_user" --regid="$run_group" --init-groups
        --bounding-set=-net_raw --inh-caps=-all --no-new-privs
        -- env -i "${user_env[@]}" "$program")
    echo "Flowbright runs as the user $run_user (not as root), without the raw-socket capability."
}

# Where the program keeps its settings: beside it, or in the user's configuration folder when
# the user cannot write there.
settings_file() {
    local dir=${program%/*}
    local writable=no
    if [ -n "$run_user" ]; then
        as_user test -w "$dir" && writable=yes
    elif [ -w "$dir" ]; then
        writable=yes
    fi
    if [ "$writable" = yes ]; then
        echo "$dir/flowbright.ini"
    else
        echo "$user_config/flowbright/flowbright.ini"
    fi
}

# ---- On the desktop --------------------------------------------------------------------------
virtual_display=""
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    prepare_launch
    [ ${#temp_dirs[@]} -eq 0 ] && exec "${launch[@]}"
    # Folders made for this run go when it ends, also when the script is told to end.
    "${launch[@]}" & app=$!
    trap 'kill -TERM "$app" 2>/dev/null || true' TERM INT HUP
    status=0
    while kill -0 "$app" 2>/dev/null; do wait "$app" || status=$?; done
    rm -rf -- "${temp_dirs[@]}"
    exit "$status"
fi

# ---- On a virtual display --------------------------------------------------------------------
shot=${FB_SCREENSHOT:-$build_dir/screenshot.png}
for n in $(seq 90 120); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { display=":$n"; break; }
done
virtual_display=$display
export DISPLAY=$display
unset WAYLAND_DISPLAY XAUTHORITY
pids=()
cleanup() {
    kill "${pids[@]}" 2>/dev/null || true
    wait 2>/dev/null || true
    [ ${#temp_dirs[@]} -eq 0 ] || rm -rf -- "${temp_dirs[@]}"
}
trap cleanup EXIT
if [ "$(id -u)" -ne 0 ] && [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    XDG_RUNTIME_DIR=$(mktemp -d /tmp/flowbright-runtime.XXXXXX) # mode 0700, ours
    temp_dirs+=("$XDG_RUNTIME_DIR")
    export XDG_RUNTIME_DIR
fi
prepare_launch
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

openbox >/dev/null 2>&1 & pids+=($!)
trayer --edge bottom --align right --widthtype request --height 24 >/dev/null 2>&1 & pids+=($!)
sleep 0.5

"${launch[@]}" & app=$!
pids+=("$app")
echo "Flowbright runs on the virtual display $display (no display was found)."
window=""
for _ in $(seq 100); do
    window=$(xdotool search --onlyvisible --name '^Flowbright$' 2>/dev/null | head -n 1 || true)
    [ -n "$window" ] && break
    sleep 0.1
done
sleep 2 # let the first samples and statistics arrive
if [ -z "$window" ] || ! import -window "$window" "$shot" 2>/dev/null; then
    import -window root "$shot"
fi
echo "Screenshot of the main window: $shot"
kill -TERM "$app"
wait "$app" || true
if [[ " ${temp_dirs[*]} " == *" $user_home "* ]]; then
    echo "Flowbright ended; its settings went to a home made for this run only, now removed."
elif ini=$(settings_file) && [ -e "$ini" ]; then
    echo "Flowbright ended; its settings file: $ini"
else
    echo "Flowbright ended; it wrote no settings file (it would be $ini)."
fi
