#!/usr/bin/env bash
# CPU per frame of the sending and the receiving peer and glass-to-glass
# latency of a one-way videoconf call, in super and normal mode, beside two
# GStreamer processes doing the same work: test source, 32-bit conversion,
# MPEG-4 without B-frames at the same size, rate and bit rate, RTP over
# loopback UDP, decode, 32-bit conversion.
#   bench_call.sh [ignored benchmark flags]   BENCH_SECONDS (30), VIDEOCONF (program)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
program=${VIDEOCONF:-$here/videoconf}
seconds=${BENCH_SECONDS:-30}
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# CPU milliseconds (user + system) a process has used so far.
cpu_ms() {
  awk -v tick="$(getconf CLK_TCK)" '{ printf "%.0f", ($14 + $15) * 1000 / tick }' "/proc/$1/stat"
}

# A number after `label` in the summary line of `peer`.
figure() {
  grep "^$2: summary" "$1" | sed -E "s/.*[^0-9.]([0-9.]+) $3.*/\1/"
}

row() { printf '%-7s %-20s %12s %9s %9s\n' "$@"; }

videoconf_run() {
  local mode=$1 log=$work/$1.log
  "$program" call --one-way --mode "$mode" --seconds "$seconds" --out "$work/$mode" > "$log" 2>&1 ||
    { echo "videoconf call failed:"; cat "$log"; return 1; }
  row "$mode" "videoconf sender" "$(figure "$log" A "ms per captured")" "" ""
  row "$mode" "videoconf receiver" "$(figure "$log" B "ms per received")" \
      "$(grep '^B: summary' "$log" | sed -E 's/.*p50 ([0-9]+) ms.*/\1/')" \
      "$(grep '^B: summary' "$log" | sed -E 's/.*p95 ([0-9]+) ms.*/\1/')"
}

gstreamer_run() {
  local mode=$1 width=$2 height=$3 fps=$4 bitrate=$5
  local port=$((20000 + RANDOM % 20000))
  # rtpgstpay sends each coded frame on its own, as videoconf sends one
  # packet per frame; rtpmp4vpay would pack several frames together.
  gst-launch-1.0 -q udpsrc port=$port \
      caps="application/x-rtp,media=application,clock-rate=90000,encoding-name=X-GST" \
    ! rtpgstdepay ! avdec_mpeg4 ! videoconvert ! video/x-raw,format=BGRx \
    ! fakesink sync=false > /dev/null 2>&1 &
  local receiver=$!
  pids+=("$receiver")
  gst-launch-1.0 -q videotestsrc is-live=true pattern=ball \
    ! "video/x-raw,format=YUY2,width=$width,height=$height,framerate=$fps/1" \
    ! videoconvert ! video/x-raw,format=BGRx ! videoconvert \
    ! avenc_mpeg4 bitrate=$bitrate max-bframes=0 gop-size=$((fps * 2)) \
    ! rtpgstpay config-interval=1 ! udpsink host=127.0.0.1 port=$port sync=false > /dev/null 2>&1 &
  local sender=$!
  pids+=("$sender")
  sleep 2  # start-up is not counted
  local s0 r0
  s0=$(cpu_ms $sender)
  r0=$(cpu_ms $receiver)
  sleep "$seconds"
  local frames=$((fps * seconds))
  row "$mode" "gstreamer sender" \
      "$(awk -v c=$(($(cpu_ms $sender) - s0)) -v f=$frames 'BEGIN { printf "%.3f", c / f }')" "n/a" "n/a"
  row "$mode" "gstreamer receiver" \
      "$(awk -v c=$(($(cpu_ms $receiver) - r0)) -v f=$frames 'BEGIN { printf "%.3f", c / f }')" "n/a" "n/a"
  kill "$sender" "$receiver"
}

echo "one-way call, $seconds s per run; CPU ms per 32-bit frame; glass-to-glass latency ms"
row mode who "cpu/frame" p50 p95
videoconf_run super
gstreamer_run super 352 288 15 100000
videoconf_run normal
gstreamer_run normal 176 144 20 49000
echo "targets: sender <= 0.8, receiver <= 0.5 ms per 352x288 frame; glass-to-glass p50 <= 15 ms"
