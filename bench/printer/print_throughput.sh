#!/bin/bash
# Print throughput of the fax printer against CUPS's sample printer, in the same run.
#
# Sends N distinct PDF jobs from C concurrent IPP clients (ipptool Print-Job) first to
# telvana-print on port 8631, then to ippeveprinter keeping its files (-k -c /bin/true
# -f application/pdf) on another port; the time runs until every job's file is in the printer's
# folder (for ippeveprinter that is already when the job is received). Every output is checked
# against its input and outputs beyond one per job are counted; prints jobs per second of each
# and their ratio.
#
# Usage: bench/printer/print_throughput.sh [build-folder] [jobs] [clients] [document-bytes]
# Needs: cups-ipp-utils, avahi-daemon and dbus-daemon (ippeveprinter needs DNS-SD; the private
# avahi-daemon started here only uses the loopback interface), Xvfb when DISPLAY is unset.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
build=${1:-$source_dir/build}
jobs=${2:-200}
clients=${3:-4}
bytes=${4:-200000}
peer_port=8632
test_file=$here/print-only.test

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

wait_port() {
  for _ in $(seq 1 200); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; then return 0; fi
    sleep 0.05
  done
  echo "nothing answers on port $1" >&2
  return 1
}

# Distinct documents: a PDF header, random bytes, an end marker.
mkdir -p "$work/in"
for i in $(seq 1 "$jobs"); do
  { printf '%%PDF-1.4\n%% job %d\n' "$i"; head -c "$bytes" /dev/urandom; printf '\n%%%%EOF\n'; } \
    > "$work/in/job$i.pdf"
done

# Number of job files in folder $1.
count_outputs() { find "$1" -maxdepth 1 -name '*job*.pdf' | wc -l; }

# Sends all jobs to the printer on port $1 from $clients clients and waits until folder $2 holds
# every job's file; prints the elapsed seconds.
send_jobs() {
  local port=$1 folder=$2 start end
  start=$(date +%s.%N)
  for c in $(seq 0 $((clients - 1))); do
    (
      for i in $(seq $((c + 1)) "$clients" "$jobs"); do
        ipptool -T 60 -d format=application/pdf -d "job_name=job$i" -f "$work/in/job$i.pdf" \
          "ipp://localhost:$port/ipp/print" "$test_file" >/dev/null 2>&1 || echo "job$i failed" >&2
      done
    ) &
  done
  wait
  for _ in $(seq 1 6000); do
    [ "$(count_outputs "$folder")" -ge "$jobs" ] && break
    sleep 0.01
  done
  end=$(date +%s.%N)
  echo "$end - $start" | bc
}

# Counts outputs in folder $1 beyond one per job (a job written twice).
extra_outputs() { echo $(($(count_outputs "$1") - jobs)); }

# Counts outputs in folder $1 that do not equal their input (matched by job name in the file name).
bad_outputs() {
  local folder=$1 bad=0 found
  for i in $(seq 1 "$jobs"); do
    found=$(find "$folder" -maxdepth 1 -name "*job$i.pdf" -print -quit)
    if [ -z "$found" ] || ! cmp -s "$found" "$work/in/job$i.pdf"; then bad=$((bad + 1)); fi
  done
  echo "$bad"
}

# The fax printer.
if [ -z "${DISPLAY:-}" ]; then
  Xvfb :93 -screen 0 1280x1024x24 -noreset >/dev/null 2>&1 &
  pids+=($!)
  export DISPLAY=:93
fi
mkdir -p "$work/home/out" "$work/home/runtime"
HOME=$work/home XDG_RUNTIME_DIR=$work/home/runtime XDG_DATA_HOME=$work/home/data \
  XDG_CONFIG_HOME=$work/home/config TELVANA_OUTPUT_DIR=$work/home/out \
  WEBKIT_DISABLE_COMPOSITING_MODE=1 "$build/telvana-print" >/dev/null 2>&1 &
pids+=($!)
wait_port 8631
sleep 1
ours=$(send_jobs 8631 "$work/home/out")
ours_bad=$(bad_outputs "$work/home/out")
ours_extra=$(extra_outputs "$work/home/out")

# CUPS's sample printer, with a private D-Bus and avahi-daemon on the loopback interface only.
mkdir -p "$work/peer" "$work/dbus" /run/dbus
if ! dbus-send --system --dest=org.freedesktop.DBus --type=method_call --print-reply \
  /org/freedesktop/DBus org.freedesktop.DBus.GetId >/dev/null 2>&1; then
  rm -f /run/dbus/system_bus_socket /run/dbus/pid
  dbus-daemon --system --fork --print-pid > "$work/dbus/pid"
  pids+=("$(cat "$work/dbus/pid")")
fi
if ! avahi-daemon --check 2>/dev/null; then
  cat > "$work/avahi.conf" <<'CONF'
[server]
allow-interfaces=lo
use-ipv6=no
[publish]
publish-addresses=no
CONF
  avahi-daemon --no-drop-root --no-chroot --no-rlimits -f "$work/avahi.conf" >/dev/null 2>&1 &
  pids+=($!)
  sleep 1
fi
ippeveprinter -k -c /bin/true -f application/pdf -p "$peer_port" -d "$work/peer" "Bench Peer" \
  >"$work/peer.log" 2>&1 &
pids+=($!)
wait_port "$peer_port" || { cat "$work/peer.log" >&2; exit 1; }
peer=$(send_jobs "$peer_port" "$work/peer")
peer_bad=$(bad_outputs "$work/peer")
peer_extra=$(extra_outputs "$work/peer")

ours_rate=$(echo "scale=2; $jobs / $ours" | bc)
peer_rate=$(echo "scale=2; $jobs / $peer" | bc)
printf 'jobs=%d clients=%d document=%d bytes\n' "$jobs" "$clients" "$bytes"
printf 'telvana-print : %8.2f jobs/s (%6.2f s), bad outputs: %d, extra outputs: %d\n' \
  "$ours_rate" "$ours" "$ours_bad" "$ours_extra"
printf 'ippeveprinter : %8.2f jobs/s (%6.2f s), bad outputs: %d, extra outputs: %d\n' \
  "$peer_rate" "$peer" "$peer_bad" "$peer_extra"
printf 'ratio         : %8.2f\n' "$(echo "scale=2; $ours_rate / $peer_rate" | bc)"
# For bench/run-all.
printf 'RESULT print_ours_rate %s jobs/s\n' "$ours_rate"
printf 'RESULT print_peer_rate %s jobs/s\n' "$peer_rate"
printf 'RESULT print_ours_bad %d count\n' "$ours_bad"
printf 'RESULT print_peer_bad %d count\n' "$peer_bad"
printf 'RESULT print_ours_extra %d count\n' "$ours_extra"
