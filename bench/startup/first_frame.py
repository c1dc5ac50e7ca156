#!/usr/bin/env python3
"""Seconds from starting a Qt program to the first frame of its window: the
first flush of a top-level window's backing store, as Qt's painting log
reports it. The program is ended right after. Best of RUNS runs of each
program, the programs taking turns, so that a change in the machine's load
falls on all of them alike; one line a program, in the order given.
Usage: first_frame.py RUNS PROGRAM [ARGS...] [-- PROGRAM [ARGS...]]..."""
import os
import subprocess
import sys
import time

ENV = dict(os.environ,
           QT_LOGGING_RULES="qt.widgets.painting=true",
           QT_MESSAGE_PATTERN="%{category} %{message}")


def first_frame(command):
    start = time.monotonic()
    program = subprocess.Popen(command, env=ENV, stdout=subprocess.DEVNULL,
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
    return seconds


runs, words = int(sys.argv[1]), sys.argv[2:]
commands = [[]]
for word in words:
    if word == "--":
        commands.append([])
    else:
        commands[-1].append(word)
best = [None] * len(commands)
for _ in range(runs):
    for i, command in enumerate(commands):
        seconds = first_frame(command)
        best[i] = seconds if best[i] is None else min(best[i], seconds)
for seconds in best:
    print("%.4f" % seconds)
