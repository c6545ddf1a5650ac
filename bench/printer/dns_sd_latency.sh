#!/bin/bash
# How fast print dialogs find the printer: the time from telvana-print's start until `lpstat -e`
# lists it, and from an avahi-daemon restart (the printer running on) until it is listed again.
#
# Runs its own system bus, avahi-daemon in its installed (default) configuration and a CUPS
# scheduler, in the current network namespace: run it in a private one (bench/run-all does), as
# root (avahi-daemon gets a private /run through a mount namespace). Prints the median of the
# runs and every run as RESULT lines.
#
# avahi-daemon's own start-up (until it logs "Server startup complete") is part of the restart
# figure; the time from then until the printer is listed is reported beside it.
#
# Usage: bench/printer/dns_sd_latency.sh [build-folder] [runs]
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
build=${1:-$source_dir/build}
runs=${2:-5}
queue=Send_as_Fax_Telvana

work=$(mktemp -d)
chmod 755 "$work"
pids=()
avahi_pid=
app_pid=
cleanup() {
  for pid in $app_pid $avahi_pid "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

now() { date +%s.%N; }

# The system bus.
cat >"$work/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$work/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/> <allow own="*"/>
    <allow send_destination="*"/> <allow receive_sender="*"/>
  </policy>
</busconfig>
EOF
dbus-daemon --config-file="$work/bus.conf" --nofork --nopidfile >"$work/bus.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [[ -S $work/bus ]] && break; sleep 0.05; done
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$work/bus

# Starts avahi-daemon and waits until it is ready; avahi_ready holds when it was.
start_avahi() {
  local before
  before=$(grep -c 'Server startup complete' "$work/avahi.log" 2>/dev/null || true)
  unshare --mount --propagation private sh -c \
    'mount -t tmpfs tmpfs /run && exec avahi-daemon --no-chroot --no-drop-root --no-rlimits' \
    >>"$work/avahi.log" 2>&1 &
  avahi_pid=$!
  for _ in $(seq 400); do
    if (($(grep -c 'Server startup complete' "$work/avahi.log") > ${before:-0})); then
      avahi_ready=$(now)
      return 0
    fi
    sleep 0.01
  done
  echo "avahi-daemon did not start" >&2
  return 1
}

stop_avahi() {
  kill "$avahi_pid"
  wait "$avahi_pid" 2>/dev/null || true
  avahi_pid=
}

# A CUPS scheduler of its own: lpstat -e asks it for its queues besides browsing.
port=6390
mkdir -p "$work/cups/spool" "$work/cups/cache" "$work/cups/state" "$work/cups/tmp" "$work/cups/log"
cat >"$work/cups/cupsd.conf" <<EOF
Listen 127.0.0.1:$port
Browsing No
BrowseLocalProtocols none
DefaultAuthType None
WebInterface No
EOF
cat >"$work/cups/cups-files.conf" <<EOF
ServerRoot $work/cups
RequestRoot $work/cups/spool
CacheDir $work/cups/cache
StateDir $work/cups/state
TempDir $work/cups/tmp
ErrorLog $work/cups/log/error_log
AccessLog $work/cups/log/access_log
PageLog $work/cups/log/page_log
EOF
cupsd -f -c "$work/cups/cupsd.conf" -s "$work/cups/cups-files.conf" >"$work/cups/out" 2>&1 &
pids+=($!)
for _ in $(seq 200); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.05; done

# Seconds until lpstat -e lists the printer, polling, counted from start (a time from now()).
until_listed() {
  local start=$1
  for _ in $(seq 600); do
    if lpstat -h "127.0.0.1:$port" -e 2>/dev/null | grep -qx "$queue"; then
      echo "$(now) - $start" | bc
      return 0
    fi
    sleep 0.02
  done
  echo "the printer was never listed" >&2
  return 1
}

median() {
  sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

start_avahi
starts=()
returns=()
after_ready=()
for run in $(seq "$runs"); do
  home=$work/home$run
  mkdir -p "$home/runtime" "$home/out"
  started=$(now)
  HOME=$home XDG_RUNTIME_DIR=$home/runtime XDG_CONFIG_HOME=$home/config \
    XDG_DATA_HOME=$home/data TELVANA_OUTPUT_DIR=$home/out "$build/telvana-print" \
    >"$home/stdout" 2>&1 &
  app_pid=$!
  starts+=("$(until_listed "$started")")
  stop_avahi
  restarted=$(now)
  start_avahi
  listed=$(until_listed "$restarted")
  returns+=("$listed")
  after_ready+=("$(echo "$listed - ($avahi_ready - $restarted)" | bc)")
  kill "$app_pid"
  wait "$app_pid" 2>/dev/null || true
  app_pid=
  # The next start must not find this one's announcement still in the daemon's caches.
  stop_avahi
  start_avahi
  echo "run $run: start -> listed ${starts[-1]} s, avahi restart -> listed ${returns[-1]} s" \
    "(${after_ready[-1]} s after the daemon was ready)"
done

# One lpstat -e call, to read the figures against.
call_start=$(now)
lpstat -h "127.0.0.1:$port" -e >/dev/null 2>&1 || true
echo "RESULT dns_sd_lpstat_call $(echo "$(now) - $call_start" | bc)"
echo "RESULT dns_sd_start_to_listed $(printf '%s\n' "${starts[@]}" | median)"
echo "RESULT dns_sd_restart_to_listed $(printf '%s\n' "${returns[@]}" | median)"
echo "RESULT dns_sd_ready_to_listed $(printf '%s\n' "${after_ready[@]}" | median)"
echo "RESULT dns_sd_start_to_listed_max $(printf '%s\n' "${starts[@]}" | sort -n | tail -1)"
echo "RESULT dns_sd_restart_to_listed_max $(printf '%s\n' "${returns[@]}" | sort -n | tail -1)"
