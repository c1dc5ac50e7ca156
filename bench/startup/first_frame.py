#!/usr/bin/env python3
"""Seconds from starting a Qt program to the first frame of its window: the
first flush of a top-level window's backing store, as Qt's painting log
reports it. The program is ended right after. Best of RUNS runs.
Usage: first_frame.py RUNS PROGRAM [ARGS...]"""
import os
import subprocess
import sys
import time

runs, command = int(sys.argv[1]), sys.argv[2:]
env = dict(os.environ,
           QT_LOGGING_RULES="qt.widgets.painting=true",
           QT_MESSAGE_PATTERN="%{category} %{message}")
best = None
for _ in range(runs):
    start = time.monotonic()
    program = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.PIPE, text=True, errors="replace")
    seconds = None
    for line in program.stderr:
        if line.startswith("qt.widgets.painting Flushing QRegion("):
            seconds = time.monotonic() - start
            break
    program.terminate()
    program.communicate()
    if seconds is None:
        sys.exit("first_frame: %s showed no frame" % command[0])
    best = seconds if best is None else min(best, seconds)
print("%.4f" % best)
