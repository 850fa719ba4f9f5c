#!/usr/bin/env bash
# How many one-way 352x288@15 streams one nats-server carries, and a cluster
# of three with each stream's members on different servers: N streams of
# recorded video-packet sizes through the peer-network library (no camera,
# no codec), N = 1, 8, 32, 128. Per N: the servers' CPU per stream, packets
# lost, one-way latency p50 and p99.
#   capacity_run.sh    CAPACITY_SECONDS (10), CAPACITY_STREAMS ("1 8 32 128")
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
peer=$here/capacity_peer
library=${KSN_LIBRARY:-$here/../lib/libKSNControlX.so}
sizes=$here/super_packet_sizes.txt
seconds=${CAPACITY_SECONDS:-10}
counts=${CAPACITY_STREAMS:-1 8 32 128}
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

cpu_ms() {
  awk -v tick="$(getconf CLK_TCK)" '{ printf "%.0f", ($14 + $15) * 1000 / tick }' "/proc/$1/stat"
}
free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
# Waits until every file given holds a line starting with $1 (60 s at most).
wait_for() {
  local word=$1 file
  shift
  for _ in $(seq 600); do
    local missing=0
    for file in "$@"; do grep -q "^$word" "$file" 2>/dev/null || missing=1; done
    [[ $missing == 0 ]] && return 0
    sleep 0.1
  done
  echo "capacity_run: no '$word' from $*" >&2
  for file in "$@"; do cat "$file" >&2; done
  return 1
}

# Starts `count` servers, clustered when more than one; their pids and URLs
# go to servers[] and urls[].
start_servers() {
  local count=$1 i routes="" cluster_ports=() ports=()
  servers=()
  urls=()
  for ((i = 0; i < count; ++i)); do
    ports+=("$(free_port)")
    cluster_ports+=("$(free_port)")
  done
  for ((i = 0; i < count; ++i)); do routes+="${routes:+,}nats://127.0.0.1:${cluster_ports[i]}"; done
  for ((i = 0; i < count; ++i)); do
    local args=(-a 127.0.0.1 -p "${ports[i]}")
    if ((count > 1)); then
      args+=(--cluster_name capacity --cluster "nats://127.0.0.1:${cluster_ports[i]}" --routes "$routes")
    fi
    nats-server "${args[@]}" > "$work/server$i.log" 2>&1 &
    servers+=($!)
    pids+=($!)
    urls+=("nats://127.0.0.1:${ports[i]}")
  done
  sleep 2  # routes form
}

run() {
  local setting=$1 n=$2 of=${#urls[@]} i
  local receivers=() senders=() outs=()
  for ((i = 0; i < of; ++i)); do
    KSN_NATS_URL=${urls[i]} "$peer" receive "$library" "$sizes" "$n" "$of" "$i" "$seconds" \
      "$work/latency$i" > "$work/receiver$i" 2>&1 &
    pids+=($!)
    receivers+=("$work/receiver$i")
  done
  wait_for ready "${receivers[@]}"
  for ((i = 0; i < of; ++i)); do
    KSN_NATS_URL=${urls[i]} "$peer" send "$library" "$sizes" "$n" "$of" "$i" "$seconds" - \
      > "$work/sender$i" 2>&1 &
    pids+=($!)
    senders+=("$work/sender$i")
  done
  wait_for connected "${senders[@]}"
  local before=0 after=0 server
  for server in "${servers[@]}"; do before=$((before + $(cpu_ms "$server"))); done
  wait_for sent "${senders[@]}"
  for server in "${servers[@]}"; do after=$((after + $(cpu_ms "$server"))); done
  wait_for received "${receivers[@]}"
  local sent received
  sent=$(cat "${senders[@]}" | awk '/^sent/ { s += $2 } END { print s }')
  received=$(cat "${receivers[@]}" | awk '/^received/ { s += $2 } END { print s }')
  cat "$work"/latency* | sort -n > "$work/all"
  local p50 p99
  p50=$(awk '{ v[NR] = $1 } END { i = int(NR * 0.50 + 0.999); print (NR ? v[i < 1 ? 1 : i] / 1000 : "n/a") }' "$work/all")
  p99=$(awk '{ v[NR] = $1 } END { i = int(NR * 0.99 + 0.999); print (NR ? v[i < 1 ? 1 : i] / 1000 : "n/a") }' "$work/all")
  # Server CPU over the sending window (about `seconds`), per stream, as
  # milliseconds of CPU per stream-second (10 = 1 % of a core).
  printf '%-10s %5d %14.3f %10d %8d %8s %8s\n' "$setting" "$n" \
    "$(awk -v c=$((after - before)) -v n="$n" -v s="$seconds" 'BEGIN { printf "%.3f", c / n / s }')" \
    "$sent" "$((sent - received))" "$p50" "$p99"
  rm -f "$work"/latency* "$work"/receiver* "$work"/sender*
}

echo "capacity: $seconds s of sending per run, 352x288@15 video-packet sizes from $(basename "$sizes")"
printf '%-10s %5s %14s %10s %8s %8s %8s\n' servers streams "cpu ms/str/s" sent lost "p50 ms" "p99 ms"
start_servers 1
for n in $counts; do run "one" "$n"; done
for pid in "${servers[@]}"; do kill "$pid"; done
start_servers 3
for n in $counts; do run "cluster3" "$n"; done
