#!/usr/bin/env python3
"""python_walk.py - the time the Python package takes to load a song and
visit every note's fret, the walk an analysis pipeline makes over a
collection. Run on demand, like zelto_bench:

    build/bench/zelto_bench --write-song collection /tmp/collection.gp4
    ZELTO_LIBRARY=build/libzelto.so PYTHONPATH=python python3 bench/python_walk.py /tmp/collection.gp4
"""
import sys
import time

import zelto


def walk(path):
    notes = 0
    fret_sum = 0
    with zelto.load(path) as song:
        for track in song.tracks:
            for measure in track.measures:
                for beat in measure.beats:
                    for note in beat.notes:
                        fret_sum += note.fret
                        notes += 1
    return notes, fret_sum


def main():
    path = sys.argv[1]
    repetitions = int(sys.argv[2]) if len(sys.argv) > 2 else 10
    timings = []
    for _ in range(repetitions):
        start = time.perf_counter()
        notes, fret_sum = walk(path)
        timings.append(time.perf_counter() - start)
    timings.sort()
    print("%s: %d notes (fret sum %d); load and walk: best %.1f ms, median %.1f ms over %d runs"
          % (path, notes, fret_sum, timings[0] * 1e3, timings[len(timings) // 2] * 1e3, repetitions))


if __name__ == "__main__":
    main()
