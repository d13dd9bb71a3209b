#!/usr/bin/python3
"""Sets the performed rendering of small songs against another program's.

    make_compare_songs FOLDER
    compare_performed.py FOLDER [--render 'QT_QPA_PLATFORM=offscreen mscore3 -o {out} {song}'] [--ours SUFFIX]

For every NAME.gp4 with its NAME.zelto.mid in FOLDER, the other program
renders NAME.other.mid (unless it is there already); the notes of both files
(onset and length in quarter notes x 480, key, velocity, channel) are
paired by onset and key, and every note that differs or has no partner is
listed. --ours names another rendering of ours to set against it (NAME.SUFFIX,
say an earlier build's as `before.mid`). Reads MIDI with python3-mido.
"""
import argparse
import glob
import os
import shlex
import subprocess
import sys

import mido


def notes_of(path):
    """(onset, key, length, velocity, channel) of every note, in ticks of 480 per quarter."""
    midi = mido.MidiFile(path)
    scale = 480.0 / midi.ticks_per_beat
    notes = []
    for track in midi.tracks:
        tick = 0
        sounding = {}
        for message in track:
            tick += message.time
            if message.type == 'note_on' and message.velocity > 0:
                sounding.setdefault((message.channel, message.note), []).append((tick, message.velocity))
            elif message.type in ('note_off', 'note_on'):
                started = sounding.get((message.channel, message.note))
                if started:
                    onset, velocity = started.pop(0)
                    notes.append((round(onset * scale), message.note, round((tick - onset) * scale), velocity,
                                  message.channel))
    return sorted(notes)


def compare(ours, theirs):
    """Pairs notes on the same onset and key; returns (pairs, only ours, only theirs)."""
    left = list(theirs)
    pairs, alone = [], []
    for note in ours:
        match = next((other for other in left if other[0] == note[0] and other[1] == note[1]), None)
        if match is None:
            alone.append(note)
        else:
            left.remove(match)
            pairs.append((note, match))
    return pairs, alone, left


def render_other(render, folder, song):
    """The other program's rendering of FOLDER/NAME.gp4 as NAME.other.mid (rendered unless there); its path."""
    name = os.path.basename(song)[:-4]
    theirs_path = os.path.join(folder, name + '.other.mid')
    if not os.path.exists(theirs_path):
        command = render.format(out=shlex.quote(theirs_path), song=shlex.quote(song))
        subprocess.run(command, shell=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
    return theirs_path


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('folder')
    parser.add_argument('--render', default='QT_QPA_PLATFORM=offscreen mscore3 -o {out} {song}')
    parser.add_argument('--ours', default='zelto.mid', help='the suffix of our rendering beside NAME.gp4')
    arguments = parser.parse_args()
    totals = [0, 0, 0, 0]  # ours, theirs, same onset and key, same length too
    for song in sorted(glob.glob(os.path.join(arguments.folder, '*.gp4'))):
        name = os.path.basename(song)[:-4]
        if name.startswith('fx_'):
            continue  # the effect songs: compare_pitch.py sets their pitch side by side
        ours_path = os.path.join(arguments.folder, name + '.' + arguments.ours)
        theirs_path = render_other(arguments.render, arguments.folder, song)
        if not os.path.exists(theirs_path):
            print(f'{name}: the other program wrote nothing')
            continue
        ours, theirs = notes_of(ours_path), notes_of(theirs_path)
        pairs, only_ours, only_theirs = compare(ours, theirs)
        same_length = sum(1 for mine, other in pairs if abs(mine[2] - other[2]) <= 10)
        totals = [totals[0] + len(ours), totals[1] + len(theirs), totals[2] + len(pairs), totals[3] + same_length]
        print(f'{name}: ours {len(ours)}, theirs {len(theirs)}, same onset and key {len(pairs)}, '
              f'same length too {same_length}')
        for mine, other in pairs:
            if abs(mine[2] - other[2]) > 10 or mine[3] != other[3] or mine[4] != other[4]:
                print(f'    at {mine[0]} key {mine[1]}: ours length {mine[2]} velocity {mine[3]} channel {mine[4]}; '
                      f'theirs length {other[2]} velocity {other[3]} channel {other[4]}')
        for note in only_ours:
            print(f'    only ours:   at {note[0]} key {note[1]} length {note[2]} velocity {note[3]}')
        for note in only_theirs:
            print(f'    only theirs: at {note[0]} key {note[1]} length {note[2]} velocity {note[3]}')
    print(f'all: ours {totals[0]}, theirs {totals[1]}, same onset and key {totals[2]}, same length too {totals[3]}')
    return 0


if __name__ == '__main__':
    sys.exit(main())
