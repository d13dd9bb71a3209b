"""The MusicXML export, read back with an XML parser.

Songs come from make_musicxml_songs (the test-side writer), each with its
performed rendering beside it; the export is made through the shared
library's ZELTO_SongCreateMusicXml. Environment: ZELTO_LIBRARY, the shared
library; ZELTO_MAKE_MUSICXML_SONGS, the song maker; ZELTO_MUSICXML_SCHEMA,
the MusicXML 4.0 schema (the validating test is skipped without it);
ZELTO_DEMO_SONG, the bundled demo song.
"""

import ctypes
import os
import shutil
import subprocess
import xml.etree.ElementTree as ElementTree

import pytest

SONGS = ["minimal", "rich", "second", "plain", "endings", "effects", "band", "overfull", "hostile"]
STEPS = {"C": 0, "D": 2, "E": 4, "F": 5, "G": 7, "A": 9, "B": 11}


@pytest.fixture(scope="module")
def library():
    lib = ctypes.CDLL(os.environ["ZELTO_LIBRARY"])
    lib.ZELTO_SongOpen.argtypes = [ctypes.c_char_p, ctypes.POINTER(ctypes.c_void_p)]
    lib.ZELTO_SongCreateMusicXml.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.POINTER(ctypes.c_ubyte)),
                                             ctypes.POINTER(ctypes.c_uint32)]
    lib.ZELTO_SongClose.argtypes = [ctypes.c_void_p]
    lib.ZELTO_DestroyMidiBuffer.argtypes = [ctypes.POINTER(ctypes.c_ubyte)]
    return lib


@pytest.fixture(scope="module")
def folder(tmp_path_factory):
    path = tmp_path_factory.mktemp("musicxml")
    subprocess.run([os.environ["ZELTO_MAKE_MUSICXML_SONGS"], str(path)], check=True)
    shutil.copy(os.environ["ZELTO_DEMO_SONG"], path / "demo.gp4")
    return path


def export(library, path):
    song = ctypes.c_void_p()
    assert library.ZELTO_SongOpen(str(path).encode(), ctypes.byref(song)) == 0
    try:
        buffer = ctypes.POINTER(ctypes.c_ubyte)()
        size = ctypes.c_uint32()
        assert library.ZELTO_SongCreateMusicXml(song, ctypes.byref(buffer), ctypes.byref(size)) == 0
        data = ctypes.string_at(buffer, size.value)
        library.ZELTO_DestroyMidiBuffer(buffer)
        return data
    finally:
        library.ZELTO_SongClose(song)


@pytest.fixture(scope="module")
def documents(library, folder):
    written = {}
    for name in SONGS + ["demo"]:
        data = export(library, folder / f"{name}.gp4")
        (folder / f"{name}.musicxml").write_bytes(data)
        written[name] = data
    return written


def score(documents, name):
    return ElementTree.fromstring(documents[name])


def measure(root, part, number):
    return root.find(f"part[@id='P{part}']/measure[@number='{number}']")


def staff_notes(element, staff="1"):
    return [note for note in element.iter("note") if note.findtext("staff") == staff]


def sounding_key(note):
    pitch = note.find("pitch")
    return (int(pitch.findtext("octave")) + 1) * 12 + STEPS[pitch.findtext("step")] + int(pitch.findtext("alter", "0"))


def test_every_document_validates_against_the_schema(documents, folder):
    schema = os.environ.get("ZELTO_MUSICXML_SCHEMA", "")
    if not os.path.isfile(schema):
        pytest.skip(f"the MusicXML 4.0 schema is not at {schema!r}")
    if shutil.which("xmllint") is None:
        pytest.skip("xmllint is not installed (apt-get install libxml2-utils)")
    paths = [str(folder / f"{name}.musicxml") for name in documents]
    result = subprocess.run(["xmllint", "--noout", "--nonet", "--schema", schema] + paths,
                            capture_output=True, text=True)
    assert result.returncode == 0, result.stderr[-4000:]


def test_the_document_opens_with_its_doctype_and_is_the_same_every_time(library, folder, documents):
    assert documents["rich"].startswith(b'<?xml version="1.0" encoding="UTF-8"')
    assert b"<!DOCTYPE score-partwise PUBLIC \"-//Recordare//DTD MusicXML 4.0 Partwise//EN\"" in documents["rich"]
    assert export(library, folder / "rich.gp4") == documents["rich"]


def test_every_measure_of_every_staff_lasts_its_time_signature(documents):
    for name, data in documents.items():
        root = ElementTree.fromstring(data)
        for part in root.iter("part"):
            divisions, beats, beat_type = None, None, None
            for bar in part.iter("measure"):
                attributes = bar.find("attributes")
                if attributes is not None:
                    divisions = int(attributes.findtext("divisions", divisions))
                    if attributes.find("time") is not None:
                        beats = int(attributes.findtext("time/beats"))
                        beat_type = int(attributes.findtext("time/beat-type"))
                length = divisions * 4 * beats // beat_type
                filled, time = {}, 0
                for item in bar:
                    if item.tag == "backup":
                        time -= int(item.findtext("duration"))
                    elif item.tag == "note" and item.find("chord") is None and item.find("grace") is None:
                        time += int(item.findtext("duration"))
                        filled[item.findtext("staff")] = time
                if name == "overfull" and bar.get("number") == "1":
                    length = divisions * 5  # five quarters: every beat is written
                assert set(filled.values()) == {length}, (name, part.get("id"), bar.get("number"), filled, length)


def performed_notes(folder, name, channel):
    mido = pytest.importorskip("mido", reason="python3-mido is not installed")
    midi = mido.MidiFile(str(folder / f"{name}.performed.mid"))
    notes = []
    for track in midi.tracks:
        tick = 0
        for message in track:
            tick += message.time
            if message.type == "note_on" and message.velocity > 0 and message.channel == channel:
                notes.append((tick, message.note))
    return sorted(notes)


def notation_notes(root, part):
    notes = []
    divisions, start = None, 0
    for bar in root.find(f"part[@id='P{part}']").iter("measure"):
        if bar.find("attributes/divisions") is not None:
            divisions = int(bar.findtext("attributes/divisions"))
        time, longest = 0, 0
        for item in bar:
            if item.tag == "backup":
                time -= int(item.findtext("duration"))
            elif item.tag == "note" and item.find("grace") is None:
                if item.find("chord") is not None:
                    onset = previous
                else:
                    onset, previous = time, time
                    time += int(item.findtext("duration"))
                longest = max(longest, time)
                if item.findtext("staff") == "1" and item.find("pitch") is not None:
                    # Ticks at 480 a quarter, rounded to the nearest once, as the performed rendering does.
                    notes.append((((start + onset) * 960 + divisions) // (2 * divisions), sounding_key(item)))
        start += longest
    return sorted(notes)


def test_notation_pitches_and_onsets_are_the_performed_notes(documents, folder):
    # Songs without repeats, ties or effects: every written note sounds once, at its place.
    assert notation_notes(score(documents, "plain"), 1) == performed_notes(folder, "plain", 0)
    band = score(documents, "band")
    assert notation_notes(band, 1) == performed_notes(folder, "band", 0)
    assert notation_notes(band, 3) == performed_notes(folder, "band", 2)


def test_keys_are_spelled_in_the_key_with_accidentals_where_needed(documents):
    root = score(documents, "plain")
    assert measure(root, 1, 1).findtext("attributes/key/fifths") == "-3"
    first = staff_notes(measure(root, 1, 1))
    # E4, F4, F#4/Gb4, F4 in E flat: E needs a natural, G flat a flat, F natural again nothing.
    assert [(n.findtext("pitch/step"), n.findtext("pitch/alter"), n.findtext("accidental")) for n in first] == [
        ("E", None, "natural"), ("F", None, None), ("G", "-1", "flat"), ("F", None, None)]


def test_tablature_staff_tuning_and_string_and_fret_of_every_note(documents):
    root = score(documents, "effects")
    details = measure(root, 1, 1).find("attributes/staff-details[@number='2']")
    assert details.findtext("staff-lines") == "6"
    assert [(t.get("line"), t.findtext("tuning-step"), t.findtext("tuning-octave"))
            for t in details.findall("staff-tuning")] == [
        ("1", "E", "2"), ("2", "A", "2"), ("3", "D", "3"), ("4", "G", "3"), ("5", "B", "3"), ("6", "E", "4")]
    assert details.findtext("capo") == "2"
    clefs = {c.get("number"): (c.findtext("sign"), c.findtext("clef-octave-change"))
             for c in measure(root, 1, 1).findall("attributes/clef")}
    assert clefs == {"1": ("G", "-1"), "2": ("TAB", None)}
    for note in root.iter("note"):
        if note.find("rest") is None:
            assert note.find("notations/technical/string") is not None and note.find("notations/technical/fret") is not None
    # The capo sounds: fret 3 on the first string with a capo at 2 is A4.
    assert sounding_key(staff_notes(measure(root, 1, 2))[0]) == 64 + 2 + 3
    bass = score(documents, "band")
    assert measure(bass, 3, 1).findtext("attributes/clef[@number='1']/sign") == "F"
    assert measure(bass, 3, 1).findtext("attributes/staff-details/staff-lines") == "4"


def test_percussion_is_unpitched_with_an_instrument_per_key(documents):
    root = score(documents, "band")
    instruments = {i.get("id") for i in root.findall("part-list/score-part[@id='P2']/score-instrument")}
    assert instruments == {"P2-I36", "P2-I38", "P2-I42", "P2-I49"}
    unpitched = measure(root, 2, 1).findall("note")
    assert all(n.find("unpitched") is not None and n.find("pitch") is None for n in unpitched)
    assert {n.find("instrument").get("id") for n in unpitched} == instruments
    midi = root.find("part-list/score-part[@id='P2']/midi-instrument[@id='P2-I38']")
    assert (midi.findtext("midi-channel"), midi.findtext("midi-unpitched")) == ("10", "39")
    assert measure(root, 2, 1).findtext("attributes/clef/sign") == "percussion"


def notations_of(bar):
    return [n.find("notations") for n in staff_notes(bar)]


def test_each_effect_appears_where_the_song_holds_it_and_nowhere_else(documents):
    root = score(documents, "effects")
    first = staff_notes(measure(root, 1, 1))
    assert [n.findtext("notehead") for n in first] == ["x", "normal", None, None]
    assert first[1].find("notehead").get("parentheses") == "yes"
    assert [bool(n.findall("notations/articulations/accent")) for n in first] == [False, False, True, False]
    assert first[3].find("notations/articulations/strong-accent") is not None
    second = measure(root, 1, 2)
    assert second.find("note/notations/articulations/staccato") is not None
    words = [w.text for w in second.iter("words")]
    assert words == ["P.M.", "let ring"]
    assert staff_notes(second)[3].find("notations/ornaments/wavy-line") is not None
    third = staff_notes(measure(root, 1, 3))
    assert third[0].find("notations/technical/hammer-on").get("type") == "start"
    assert third[1].find("notations/slur").get("type") == "stop"
    assert third[2].find("notations/slide").get("type") == "start"
    assert third[3].find("notations/slide").get("type") == "stop"
    fourth = staff_notes(measure(root, 1, 4))
    assert fourth[0].findtext("notations/technical/bend/bend-alter") == "2"
    assert fourth[1].find("notations/technical/bend/pre-bend") is not None
    grace = [n for n in fourth if n.find("grace") is not None]
    assert len(grace) == 1 and grace[0].findtext("notations/technical/fret") == "3"
    assert fourth[-1].find("notations/ornaments/trill-mark").get("trill-step") == "whole"
    fifth = staff_notes(measure(root, 1, 5))
    assert fifth[0].findtext("notations/ornaments/tremolo") == "1"
    assert fifth[1].find("notations/technical/harmonic/natural") is not None
    assert fifth[2].find("notations/technical/harmonic/artificial") is not None
    assert "fade in" in [w.text for w in measure(root, 1, 5).iter("words")]
    sixth = staff_notes(measure(root, 1, 6))
    assert [n.find("notations/arpeggiate").get("direction") for n in sixth[:6]] == ["down"] * 3 + ["up"] * 3
    assert sixth[6].find("tie").get("type") == "start"
    tied = staff_notes(measure(root, 1, 7))[0]
    assert tied.find("tie").get("type") == "stop" and sounding_key(tied) == sounding_key(sixth[6])
    assert measure(root, 1, 1).findtext("direction/direction-type/words") == "Triplet feel"
    assert measure(root, 1, 1).find("direction/sound/swing") is not None
    assert measure(root, 1, 2).findtext("direction/direction-type/rehearsal") == "Verse & <chorus>"
    # The second measure's first note is piano, the next one forte again (no dynamic of its own).
    assert [d.tag for d in measure(root, 1, 2).iterfind("direction/direction-type/dynamics/*")] == ["p", "f"]
    assert measure(root, 1, 3).find("direction/sound").get("tempo") == "90"
    plain = score(documents, "minimal")
    for tag in ("articulations", "ornaments", "tied", "slur", "slide", "bend", "harmonic", "arpeggiate", "grace",
                "words", "rehearsal", "dynamics", "notehead", "ending", "repeat"):
        assert plain.find(f".//{tag}") is None, tag


def test_repeats_and_endings_read_as_the_performed_rendering_reads_them(documents):
    root = score(documents, "endings")

    def barline(number, location):
        return measure(root, 1, number).find(f"barline[@location='{location}']")

    assert barline(3, "left").find("repeat").get("direction") == "forward"
    assert barline(18, "left").find("ending").attrib == {"number": "1, 2", "type": "start"}
    assert barline(18, "right").find("ending").attrib == {"number": "1, 2", "type": "stop"}
    assert barline(18, "right").find("repeat").attrib == {"direction": "backward", "times": "3"}
    assert barline(19, "left").find("ending").attrib == {"number": "3", "type": "start"}
    assert barline(19, "right").find("ending").attrib == {"number": "3", "type": "discontinue"}
    assert [barline(n, "left").find("ending").get("number") for n in (21, 22, 23)] == ["1", "2", "3"]
    assert barline(23, "right").findtext("bar-style") == "light-light"
    assert barline(2, "left") is None and barline(2, "right") is None


def test_identification_and_parts(documents):
    root = score(documents, "rich")
    assert root.findtext("work/work-title") == "Feature rich"
    assert root.findtext("movement-title") == "Every block"
    creators = {c.get("type"): c.text for c in root.findall("identification/creator")}
    assert creators == {"composer": "Composer", "artist": "The writers", "transcriber": "Tablature"}
    assert root.findtext("identification/rights") == "(c) nobody"
    assert root.findtext("identification/encoding/software") == "zelto"
    fields = [(f.get("name"), f.text) for f in root.findall("identification/miscellaneous/miscellaneous-field")]
    assert ("album", "Test songs") in fields and ("instructions", "Play it") in fields
    parts = root.findall("part-list/score-part")
    assert len(parts) == len(root.findall("part")) == 3
    assert all(p.find("midi-instrument/midi-program") is not None for p in parts if p.get("id") != "P3")


def test_an_overfull_measure_keeps_every_note(documents):
    root = score(documents, "overfull")
    assert len(staff_notes(measure(root, 1, 1))) == 5 == len(staff_notes(measure(root, 1, 1), "2"))
    assert len(staff_notes(measure(root, 1, 2))) == 1


def test_lyrics_on_the_lyrics_track_and_chord_symbols_with_their_frames(documents):
    root = score(documents, "effects")
    lyrics = [(l.findtext("syllabic"), l.findtext("text")) for l in root.iter("lyric")]
    assert lyrics == [("begin", "Hel"), ("end", "lo"), ("single", "dear"), ("begin", "wor"), ("end", "ld")]
    assert all(l.get("number") == "1" for l in root.iter("lyric"))
    rich = score(documents, "rich")
    harmonies = rich.findall(".//harmony")
    assert [(h.findtext("root/root-step"), h.findtext("kind"), h.find("kind").get("text")) for h in harmonies] == [
        ("G", "major", ""), ("C", "major-seventh", "maj7")]
    assert all(h.findtext("frame/frame-strings") == "6" and h.findall("frame/frame-note") for h in harmonies)
    assert score(documents, "minimal").find(".//lyric") is None


def test_keys_that_are_no_midi_keys_are_spelled_within_them(documents):
    root = score(documents, "hostile")
    keys = [sounding_key(n) for n in staff_notes(measure(root, 1, 1))]
    assert keys[0] == 12 and keys[1] == 127 and all(12 <= key <= 127 for key in keys)
    tunings = measure(root, 1, 1).findall("attributes/staff-details/staff-tuning")
    # Line 1 is the lowest string (string 6, tuned to the largest key), line 6 the first.
    assert (tunings[0].findtext("tuning-step"), tunings[0].findtext("tuning-octave")) == ("G", "9")
    assert (tunings[5].findtext("tuning-step"), tunings[5].findtext("tuning-octave")) == ("C", "0")
