#!/usr/bin/env python3
"""Per-stage CPU of a one-way videoconf call, in microseconds per frame.

Records both peers with perf (cpu-clock, DWARF call graphs), charges every
sample to the innermost stage its call chain passes through, and prints one
table per peer. Samples whose chain could not be unwound are charged by the
library they fell in.
    call_stages.py [--seconds 25] [--mode super] [--videoconf PATH] [--data FILE]
Needs perf (Debian: linux-perf) and a Release build.
"""
import argparse
import collections
import os
import re
import subprocess
import sys
import tempfile

# Checked from the leaf outwards; the first frame that names a stage wins.
STAGES = [
    ("capture-time stamp", r"StampPicture"),
    ("renderer copy", r"VideoRender::CopySample"),
    ("renderer hand-over", r"VideoRender::DoRenderSample|GstCaptureGraph::Render|OnNewSample"),
    ("libavcodec decode", r"avcodec_send_packet|avcodec_receive_frame"),
    ("libavcodec encode", r"avcodec_send_frame|avcodec_receive_packet"),
    ("I420 to BGRA", r"I420ToBgra|I420ToARGB"),
    ("BGRA to I420", r"BgraToI420|ARGBToI420"),
    ("YUY2 to BGRA", r"Yuy2To"),
    ("paint", r"SetDIBitsToDevice"),
    ("window set copy", r"VideoWnds::ShowFrame"),
    ("picture kept for key frames", r"FrameSender::KeepPicture"),
    ("host window read-back", r"FrameWatch"),
    ("videotestsrc", r"videotestsrc|orcexec"),
    ("other GStreamer", r"libgst"),
]
UNWOUND = [
    ("libavcodec (no call chain)", r"libavcodec"),
    ("memcpy (no call chain)", r"memcpy|memmove"),
    ("start-up (dynamic loading)", r"ld-linux|libhwy"),
    ("kernel", r"kernel"),
]


def classify(frames):
    for line in frames:
        for name, pattern in STAGES:
            if re.search(pattern, line):
                return name
    for name, pattern in UNWOUND:
        if frames and re.search(pattern, frames[0]):
            return name
    return "rest"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seconds", type=int, default=25)
    parser.add_argument("--mode", default="super")
    here = os.path.dirname(os.path.abspath(__file__))
    parser.add_argument("--videoconf", default=os.path.join(here, "videoconf"))
    parser.add_argument("--data", help="an existing perf.data of such a call, and its log")
    args = parser.parse_args()

    work = tempfile.mkdtemp()
    data = args.data or os.path.join(work, "perf.data")
    log = data + ".log"
    if not args.data:
        with open(log, "w") as out:
            subprocess.run(["perf", "record", "-q", "-e", "cpu-clock", "-F", "1999",
                            "--call-graph", "dwarf,8192", "-o", data, "--", args.videoconf, "call",
                            "--one-way", "--mode", args.mode, "--seconds", str(args.seconds),
                            "--out", os.path.join(work, "out")], stdout=out, stderr=subprocess.STDOUT,
                           check=True)
    frames = {}
    with open(log) as summary:
        for line in summary:
            m = re.match(r"([AB]): summary: .* captured (\d+), received (\d+) frames", line)
            if m:
                frames[m.group(1)] = int(m.group(2)) if m.group(1) == "A" else int(m.group(3))
    script = subprocess.run(["perf", "script", "-i", data, "-F", "pid,tid,period,ip,sym,dso"],
                            capture_output=True, text=True, check=True).stdout
    by_pid = collections.defaultdict(collections.Counter)
    for block in script.split("\n\n"):
        lines = [l.strip() for l in block.strip().split("\n") if l.strip()]
        if len(lines) < 2:
            continue
        head = lines[0].split()
        pid = head[-2].split("/")[0] if "/" in head[-2] else head[-2]
        by_pid[pid][classify(lines[1:])] += int(head[-1])
    # The sending peer encodes, the receiving one decodes.
    for peer, marker in (("A", "libavcodec encode"), ("B", "libavcodec decode")):
        pid = max(by_pid, key=lambda p: by_pid[p][marker])
        n = frames.get(peer, 0)
        if n == 0:
            print(f"{peer}: no frames", file=sys.stderr)
            continue
        print(f"{peer} ({'sender' if peer == 'A' else 'receiver'}), {n} frames, us per frame")
        for stage, ns in by_pid[pid].most_common():
            print(f"  {ns / 1e3 / n:7.0f}  {stage}")
        print(f"  {sum(by_pid[pid].values()) / 1e3 / n:7.0f}  whole process")


if __name__ == "__main__":
    main()
