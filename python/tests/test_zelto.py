"""Tests of the zelto package on songs from the test-side writer: every
object and effect against what the writer wrote, errors, a closed song, the
library's lookup, and both MIDI renderings against the C library's bytes."""
import os
import shutil
import subprocess
import sys
import threading

import pytest

import zelto
from conftest import PACKAGE_ROOT


def bend_dict(bend):
    if bend is None:
        return None
    return {"type": bend.type, "value": bend.value,
            "points": [{"position": p.position, "value": p.value, "vibrato": p.vibrato} for p in bend.points]}


def note_dict(note):
    effects = note.effects
    described = None
    if effects is not None:
        grace, trill = effects.grace, effects.trill
        described = {
            "flags1": effects.flags1, "flags2": effects.flags2, "bend": bend_dict(effects.bend),
            "grace": grace and {"fret": grace.fret, "dynamic": grace.dynamic,
                                "transition": grace.transition, "duration": grace.duration},
            "tremoloPicking": effects.tremolo_picking, "slide": effects.slide, "harmonic": effects.harmonic,
            "trill": trill and {"fret": trill.fret, "period": trill.period}}
    return {"string": note.string, "flags": note.flags, "type": note.type, "fret": note.fret,
            "dynamic": note.dynamic, "duration": note.duration_code, "tuplet": note.tuplet,
            "leftFinger": note.left_finger, "rightFinger": note.right_finger, "effects": described}


def beat_dict(beat):
    chord, effects, mix = beat.chord, beat.effects, beat.mix_table
    return {
        "flags": beat.flags, "duration": beat.duration_code, "dotted": beat.dotted, "tuplet": beat.tuplet,
        "status": beat.status, "text": beat.text,
        "chord": chord and {
            "name": chord.name, "format": chord.format, "sharp": chord.sharp, "root": chord.root,
            "chordType": chord.chord_type, "extension": chord.extension, "bass": chord.bass,
            "tonality": chord.tonality, "add": chord.add, "fifth": chord.fifth, "ninth": chord.ninth,
            "eleventh": chord.eleventh, "baseFret": chord.base_fret, "frets": list(chord.frets),
            "barres": [{"fret": b.fret, "firstString": b.first_string, "lastString": b.last_string}
                       for b in chord.barres],
            "omissions": list(chord.omissions), "fingerings": list(chord.fingerings),
            "showFingering": chord.show_fingering},
        "effects": effects and {
            "flags1": effects.flags1, "flags2": effects.flags2, "tapping": effects.tapping,
            "strokeSpeeds": effects.stroke_speeds and list(effects.stroke_speeds),
            "pickStroke": effects.pick_stroke, "tremoloBar": bend_dict(effects.tremolo_bar)},
        "mixTable": mix and {
            "instrument": mix.instrument, "volume": mix.volume, "balance": mix.balance, "chorus": mix.chorus,
            "reverb": mix.reverb, "phaser": mix.phaser, "tremolo": mix.tremolo, "tempo": mix.tempo,
            "volumeDuration": mix.volume_duration, "balanceDuration": mix.balance_duration,
            "chorusDuration": mix.chorus_duration, "reverbDuration": mix.reverb_duration,
            "phaserDuration": mix.phaser_duration, "tremoloDuration": mix.tremolo_duration,
            "tempoDuration": mix.tempo_duration, "applyToAllTracks": mix.apply_to_all_tracks},
        "notes": [note_dict(note) for note in beat.notes]}


@pytest.mark.parametrize("name", ["rich", "second", "minimal"])
def test_every_beat_and_note_is_what_the_writer_wrote(songs, name):
    with zelto.load(songs.path(name)) as song:
        walked = [{"index": track.index,
                   "measures": [{"index": measure.index, "beats": [beat_dict(beat) for beat in measure.beats]}
                                for measure in track.measures]}
                  for track in song.tracks]
    assert walked == songs.tracks(name)


def test_song_information_measures_and_tracks(songs):
    song = zelto.load(songs.path("rich"))
    assert (song.title, song.subtitle, song.artist, song.album) == (
        "Feature rich", "Every block", "The writers", "Test songs")
    assert song.version == "FICHIER GUITAR PRO v4.06"
    assert song.notices == ["First notice", "", "Third notice"]
    assert song.lyrics == ["Lyrics line 1", "Lyrics line 2", "", "Lyrics line 4", "Lyrics line 5"]
    assert (song.tempo, song.key, song.triplet_feel, song.lyrics_track) == (132, -1, False, 2)
    assert song.midi_channels[3][15] == zelto.MidiChannel(63, 8, 15, 3, 18, 9, 7)
    assert zelto.load(songs.path("second")).triplet_feel

    headers = song.measures
    assert [header.time_signature for header in headers] == [(4, 4), (4, 4), (3, 4), (6, 8)]
    assert (headers[2].numerator, headers[2].denominator) == (3, None)
    assert headers[0].marker == zelto.Marker("Intro", 0x00FF0000) and headers[1].marker is None
    assert (headers[0].begin_repeat, headers[1].end_repeat, headers[1].repeat_count) == (True, True, 1)
    assert [header.alternative_ending for header in headers] == [None, 1, 2, 3]
    assert (headers[0].tonality, headers[1].tonality, headers[1].double_bar) == (-2, None, True)

    lead, bass, seven = song.tracks
    assert (lead.name, lead.string_count, lead.tunings) == ("Lead guitar", 6, (64, 59, 55, 50, 45, 40))
    assert bass.tunings == (43, 38, 33, 28) and bass.all_tunings[4:] == (0, 0, 0)
    assert (bass.midi_port, bass.midi_channel, bass.effects_midi_channel, bass.capo) == (1, 3, 4, 2)
    assert len(seven.tunings) == 7 and len(seven.measures) == song.measure_count == 4

    first = lead.measures[0].beats[0]
    assert (first.duration, first.dotted, first.is_rest) == (4, False, False)
    assert lead.measures[0].beats[1].is_rest and bass.measures[0].beats[1].is_empty
    note = first.notes[0]
    assert (note.string, note.fret, note.dynamic, note.left_finger, note.right_finger) == (1, 3, 7, 2, -1)
    assert note.effects.hammer_on and note.effects.let_ring and note.effects.palm_mute
    assert first.mix_table.tempo == 100 and first.mix_table.balance is None
    assert lead.measures[1].beats[1].notes[0].is_tie and lead.measures[1].beats[2].notes[0].is_dead


def test_views_are_read_only(songs):
    song = zelto.load(songs.path("minimal"))
    note = song.tracks[0].measures[0].beats[0].notes[0]
    with pytest.raises(AttributeError):
        note.fret = 7
    with pytest.raises(AttributeError):
        song.title = "other"
    assert note.fret == 5


@pytest.mark.parametrize("name, reason", [
    ("missing", "cannot-open"), ("v3", "other-version"), ("cut", "cut-off"), ("badchord", "damaged")])
def test_a_song_that_does_not_load_says_why(songs, name, reason):
    with pytest.raises(zelto.LoadError) as raised:
        zelto.load(songs.path(name))
    assert isinstance(raised.value, ValueError)
    assert raised.value.reason == reason
    assert raised.value.path == songs.path(name)
    assert songs.path(name) in str(raised.value)


def test_an_empty_file_a_folder_and_a_zero_byte_in_the_path(songs, tmp_path):
    empty = tmp_path / "empty.gp4"
    empty.write_bytes(b"")
    for path, reason, said in ((empty, "empty", "the file is empty"),
                               (tmp_path, "cannot-read", "it is a folder")):
        with pytest.raises(zelto.LoadError) as raised:
            zelto.load(str(path))
        assert raised.value.reason == reason
        assert said in str(raised.value)
    # The path up to the zero byte names a song that loads: it must not be loaded.
    with pytest.raises(ValueError) as raised:
        zelto.load(songs.path("minimal") + "\0.txt")
    assert not isinstance(raised.value, zelto.LoadError)


def test_a_closed_song_refuses_access(songs):
    with zelto.load(songs.path("rich")) as song:
        track = song.tracks[0]
        measure = track.measures[0]
        beat = measure.beats[0]
        note = beat.notes[0]
        effects = note.effects
    assert song.closed
    for reach in (lambda: song.title, lambda: song.tracks, lambda: song.midi(), lambda: track.measures,
                  lambda: track.name, lambda: measure.beats, lambda: beat.notes, lambda: beat.chord,
                  lambda: beat.duration, lambda: note.fret, lambda: effects.bend, lambda: song.measures[0]):
        with pytest.raises(zelto.SongClosedError):
            reach()
    song.close()  # a second close does nothing


def test_both_renderings_are_the_c_librarys_bytes(songs):
    for name in ("rich", "second", "minimal"):
        with zelto.load(songs.path(name)) as song:
            assert song.midi() == songs.midi(name)
            assert song.midi() == song.midi()
            assert song.midi(performed=True) == songs.midi(name, ".performed.mid")
    with zelto.load(songs.path("rich")) as song:
        assert song.midi(performed=True) != song.midi()


def test_musicxml_is_the_score_of_every_track(songs):
    import xml.etree.ElementTree as ElementTree
    with zelto.load(songs.path("rich")) as song:
        score = song.musicxml()
        assert score == song.musicxml()
        root = ElementTree.fromstring(score)
        assert root.tag == "score-partwise" and root.get("version") == "4.0"
        assert [p.findtext("part-name") for p in root.findall("part-list/score-part")] == [t.name for t in song.tracks]
        assert len(root.find("part").findall("measure")) == len(song.measures)


def test_one_song_rendered_on_four_threads_gives_the_bytes_of_one(songs):
    with zelto.load(songs.path("repeats")) as song:
        expected = {False: songs.midi("repeats"), True: songs.midi("repeats", ".performed.mid")}
        wrong = []

        def render(performed):
            for _ in range(10):
                if song.midi(performed=performed) != expected[performed]:
                    wrong.append(performed)

        threads = [threading.Thread(target=render, args=(index == 3,)) for index in range(4)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        assert wrong == []


def test_a_size_budget_refuses_a_larger_file(songs):
    with zelto.load(songs.path("repeats")) as song:
        for performed in (False, True):
            whole = song.midi(performed=performed)
            assert song.midi(performed=performed, max_size=len(whole)) == whole
            with pytest.raises(zelto.RenderError) as raised:
                song.midi(performed=performed, max_size=len(whole) - 1)
            assert (raised.value.reason, raised.value.limit) == ("too-long", "size")
        with pytest.raises(ValueError):
            song.midi(max_size=0)


def run_python(code, environment):
    return subprocess.run([sys.executable, "-c", code], env=environment, capture_output=True, text=True)


def test_the_library_is_found_by_variable_then_beside_the_package(songs, tmp_path):
    library = os.environ["ZELTO_LIBRARY"]
    load = "import zelto; print(zelto.load(%r).title)" % songs.path("minimal")
    environment = dict(os.environ, PYTHONPATH=PACKAGE_ROOT, ZELTO_LIBRARY=str(tmp_path / "absent.so"))
    missing = run_python(load, environment)
    assert missing.returncode != 0 and "ZELTO_LIBRARY" in missing.stderr

    shutil.copytree(os.path.join(PACKAGE_ROOT, "zelto"), tmp_path / "zelto")
    shutil.copy(library, tmp_path / "zelto" / "libzelto.so")
    del environment["ZELTO_LIBRARY"]
    environment["PYTHONPATH"] = str(tmp_path)
    beside = run_python(load, environment)
    assert beside.returncode == 0, beside.stderr
    assert beside.stdout.strip() == "Title"
