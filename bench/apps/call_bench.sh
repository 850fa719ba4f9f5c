#!/usr/bin/env bash
# CPU per frame of the sending and the receiving peer and glass-to-glass
# latency of a one-way videoconf call, in super and normal mode, beside two
# GStreamer processes doing the same work: test source, 32-bit conversion,
# MPEG-4 without B-frames at the same size, rate and bit rate, RTP over
# loopback UDP, decode, 32-bit conversion; and the test source alone, whose
# cost both senders carry, so that it can be taken off both. A member alone
# in a conference shows what a peer spends with no video at all (the
# manager's tick, the peer network's ticker), spread over the mode's frames.
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

# `$1` CPU milliseconds spread over `$2` frames.
per_frame() {
  awk -v c="$1" -v f="$2" 'BEGIN { printf "%.3f", c / f }'
}
ratio() {
  awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'
}
# CPU per frame of process `$1` over the window, start-up (2 s) not counted;
# `$2` frames.
window_cpu() {
  sleep 2
  local c0
  c0=$(cpu_ms "$1")
  sleep "$seconds"
  per_frame $(($(cpu_ms "$1") - c0)) "$2"
}
minus() {
  awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a - b }'
}

videoconf_run() {
  local mode=$1 log=$work/$1.log
  "$program" call --one-way --mode "$mode" --seconds "$seconds" --out "$work/$mode" > "$log" 2>&1 ||
    { echo "videoconf call failed:"; cat "$log"; return 1; }
  vc_sender=$(figure "$log" A "ms per captured")
  vc_receiver=$(figure "$log" B "ms per received")
  row "$mode" "videoconf sender" "$vc_sender" "" ""
  row "$mode" "videoconf receiver" "$vc_receiver" \
      "$(grep '^B: summary' "$log" | sed -E 's/.*p50 ([0-9]+) ms.*/\1/')" \
      "$(grep '^B: summary' "$log" | sed -E 's/.*p95 ([0-9]+) ms.*/\1/')"
}

# True once something listens on UDP `port` of this machine.
udp_listening() {
  grep -qi ":$(printf '%04X' "$1") " /proc/net/udp
}

# True once the process has exited (gone, or a zombie not yet reaped).
ended() {
  [ ! -e "/proc/$1/stat" ] || [ "$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null)" = Z ]
}

gstreamer_run() {
  local mode=$1 width=$2 height=$3 fps=$4 bitrate=$5
  local port=$((20000 + RANDOM % 20000))
  # The receiver counts what it decodes at no cost per frame: its sink ends
  # the pipeline after the frames sent from the sender's start to the end of
  # the window. One that decoded less (a stream joined late gets no caps from
  # rtpgstpay and decodes nothing) is still running afterwards.
  local expected=$((fps * (seconds + 2)))
  # rtpgstpay sends each coded frame on its own, as videoconf sends one
  # packet per frame; rtpmp4vpay would pack several frames together.
  gst-launch-1.0 -q udpsrc port=$port \
      caps="application/x-rtp,media=application,clock-rate=90000,encoding-name=X-GST" \
    ! rtpgstdepay ! avdec_mpeg4 ! videoconvert ! video/x-raw,format=BGRx \
    ! fakesink sync=false num-buffers=$expected > /dev/null 2>&1 &
  local receiver=$!
  pids+=("$receiver")
  # The stream's caps travel only at its start: the sender waits until the
  # receiver listens (start-up under load takes seconds).
  local tries=0
  until udp_listening $port; do
    tries=$((tries + 1))
    if [ $tries -gt 200 ] || ! kill -0 $receiver 2>/dev/null; then
      echo "gstreamer receiver did not start listening on udp port $port"
      return 1
    fi
    sleep 0.05
  done
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
  gst_sender=$(per_frame $(($(cpu_ms $sender) - s0)) $frames)
  gst_receiver=$(per_frame $(($(cpu_ms $receiver) - r0)) $frames)
  # Three seconds of slack for the last frames, or for a few lost ones.
  gst_decoded=no
  for _ in $(seq 30); do
    if ended $receiver; then
      gst_decoded=yes
      break
    fi
    sleep 0.1
  done
  row "$mode" "gstreamer sender" "$gst_sender" "n/a" "n/a"
  row "$mode" "gstreamer receiver" "$gst_receiver" "n/a" "n/a"
  if [ $gst_decoded = no ]; then
    echo "$mode: the gstreamer receiver decoded fewer than the $expected frames sent; its figure is void"
  fi
  kill "$sender" "$receiver" 2>/dev/null || true
}

# The test source both senders start from (videoconf's virtual camera is the
# same videotestsrc), alone.
source_run() {
  local mode=$1 width=$2 height=$3 fps=$4
  gst-launch-1.0 -q videotestsrc is-live=true pattern=ball \
    ! "video/x-raw,format=YUY2,width=$width,height=$height,framerate=$fps/1" \
    ! fakesink sync=false > /dev/null 2>&1 &
  local source=$!
  pids+=("$source")
  test_source=$(window_cpu $source $((fps * seconds)))
  row "$mode" "test source alone" "$test_source" "n/a" "n/a"
  kill "$source"
}

# A receive-only member alone in a new conference on a server of its own.
idle_run() {
  local mode=$1 fps=$2
  local port=$((20000 + RANDOM % 20000))
  nats-server -a 127.0.0.1 -p $port > "$work/idle-server.log" 2>&1 &
  pids+=("$!")
  sleep 1
  KSN_NATS_URL=nats://127.0.0.1:$port "$program" peer --cid new --receive-only \
      --mode "$mode" --seconds $((seconds + 4)) --out "$work/idle-$mode" > "$work/idle-$mode.log" 2>&1 &
  local member=$!
  pids+=("$member")
  row "$mode" "member alone" "$(window_cpu $member $((fps * seconds)))" "n/a" "n/a"
  kill "$member"
}

# Sender without the test source, and both sides against GStreamer's.
compare() {
  local mode=$1
  local vc_net gst_net
  vc_net=$(minus "$vc_sender" "$test_source")
  gst_net=$(minus "$gst_sender" "$test_source")
  row "$mode" "sender, no source" "$vc_net" "" ""
  row "$mode" "gstreamer, no source" "$gst_net" "" ""
  local receiver_ratio="n/a (gstreamer receiver figure void)"
  if [ "$gst_decoded" = yes ]; then
    receiver_ratio="$(ratio "$vc_receiver" "$gst_receiver")x"
  fi
  echo "$mode: sender $(ratio "$vc_net" "$gst_net")x GStreamer's (test source off both)," \
       "receiver $receiver_ratio"
}

echo "one-way call, $seconds s per run; CPU ms per 32-bit frame; glass-to-glass latency ms"
row mode who "cpu/frame" p50 p95
videoconf_run super
gstreamer_run super 352 288 15 100000
source_run super 352 288 15
idle_run super 15
compare super
videoconf_run normal
gstreamer_run normal 176 144 20 49000
source_run normal 176 144 20
idle_run normal 20
compare normal
echo "targets: sender <= 0.6x and receiver <= 0.8x GStreamer's in both modes; glass-to-glass" \
     "p50 <= 5 ms; at 352x288, test source off, sender <= 0.55 and receiver <= 0.3 ms per frame"
