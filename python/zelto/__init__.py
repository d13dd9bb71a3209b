"""Guitar Pro 4 songs, read whole: song information, measures, tracks, and
every beat and note with its effects; and the song as a Standard MIDI File.

    import zelto
    song = zelto.load("song.gp4")
    for track in song.tracks:
        for measure in track.measures:
            for beat in measure.beats:
                for note in beat.notes:
                    print(track.name, measure.index, note.string, note.fret)
    open("song.mid", "wb").write(song.midi())
    open("performed.mid", "wb").write(song.midi(performed=True))
    song.close()

The package is a thin layer over the zelto shared library (libzelto.so),
through ctypes. It finds the library through the ZELTO_LIBRARY environment
variable first, then next to the package, then on the system's library path.

Every object is a read-only view of the song it came from. Once the song is
closed (song.close(), or the end of a `with` block), every view of it raises
SongClosedError instead of reading freed memory. Strings are the file's bytes
read as Latin-1 (`text.encode("latin-1")` gives the bytes back).
"""
import array
import collections
import ctypes
import os

from . import _native

__all__ = ["load", "Song", "Track", "MeasureHeader", "TrackMeasure", "Beat", "Note",
           "NoteEffects", "BeatEffects", "LoadError", "RenderError", "SongClosedError",
           "Marker", "MidiChannel", "Bend", "BendPoint", "Grace", "Trill", "ChordDiagram",
           "Barre", "MixTableChange"]

__version__ = "0.1.0"


class LoadError(ValueError):
    """A song file that did not load. `reason` is one of "invalid-argument",
    "cannot-open", "cannot-read" (a folder, or a read error), "empty",
    "other-version", "cut-off", "damaged", "out-of-memory"; `path` is the
    file's path."""

    def __init__(self, message, reason, path):
        super().__init__(message)
        self.reason = reason
        self.path = path


class RenderError(RuntimeError):
    """A MIDI rendering (or a MusicXML score) that could not be made. `reason` is "too-long" (the
    song passes the render limits or the size budget) or "out-of-memory";
    with "too-long", `limit` says which limit: "ticks", "measures",
    "events", "text", "tracks" or "size" (else None)."""

    def __init__(self, message, reason, limit=None):
        super().__init__(message)
        self.reason = reason
        self.limit = limit


class SongClosedError(ValueError):
    """A view of a song that has been closed."""


_REASONS = {
    _native.INVALID_ARGUMENT: "invalid-argument", _native.CANNOT_OPEN: "cannot-open",
    _native.OTHER_VERSION: "other-version", _native.CUT_OFF: "cut-off",
    _native.DAMAGED: "damaged", _native.OUT_OF_MEMORY: "out-of-memory",
    _native.TOO_LONG: "too-long", _native.CANNOT_READ: "cannot-read", _native.EMPTY: "empty",
}

# Value records: plain named tuples, which stay readable after the song closes.
Marker = collections.namedtuple("Marker", "text color")
MidiChannel = collections.namedtuple("MidiChannel", "instrument volume balance chorus reverb phaser tremolo")
BendPoint = collections.namedtuple("BendPoint", "position value vibrato")
Bend = collections.namedtuple("Bend", "type value points")
Grace = collections.namedtuple("Grace", "fret dynamic transition duration")
Trill = collections.namedtuple("Trill", "fret period")
Barre = collections.namedtuple("Barre", "fret first_string last_string")
ChordDiagram = collections.namedtuple(
    "ChordDiagram", "name format sharp root chord_type extension bass tonality add fifth ninth "
                    "eleventh base_fret frets barres omissions fingerings show_fingering")
ChordDiagram.__doc__ = """A chord diagram. `frets` holds strings 1 to 7 (-1: not played). A short
diagram (format 0) carries only name, base_fret and the frets of strings 1 to 6;
its other fields are 0 and empty."""
MixTableChange = collections.namedtuple(
    "MixTableChange", "instrument volume balance chorus reverb phaser tremolo tempo "
                      "volume_duration balance_duration chorus_duration reverb_duration "
                      "phaser_duration tremolo_duration tempo_duration apply_to_all_tracks")
MixTableChange.__doc__ = """A mix-table change from a beat on: each value is None where it does not
change. `apply_to_all_tracks` is the stored bit set (0x01 volume, 0x02 balance,
0x04 chorus, 0x08 reverb, 0x10 phaser, 0x20 tremolo)."""


_BEAT_BYTES = 4 * _native.BEAT_FIELDS
_NOTE_BYTES = 4 * _native.NOTE_FIELDS


def _text(raw):
    return None if raw is None else raw.decode("latin-1")


def _closed():
    raise SongClosedError("the song has been closed")


def load(path):
    """Opens and reads the song file at `path` (str, bytes or os.PathLike)
    and returns a Song. Raises LoadError, saying why, when it does not load."""
    return Song(path)


class Song:
    """A loaded song. Usable as a context manager, which closes it.

    Attributes: title, subtitle, artist, album, author, copyright,
    tab_author, instructions, notices (list of str), triplet_feel (bool),
    triplet_feel_byte (the stored value), lyrics_track, lyrics (5 str or
    None), tempo (quarter notes per minute), key, octave, version,
    measure_count, track_count, measures (tuple of MeasureHeader), tracks
    (tuple of Track), midi_channels (4 ports x 16 channels of MidiChannel).
    """

    def __init__(self, path):
        self._handle = None
        self._path = os.fsdecode(path) if not isinstance(path, str) else path
        lib = _native.library()
        encoded = os.fsencode(path)
        # The library reads a path up to its first zero byte: a path holding
        # one names another file, and is refused as open() refuses it.
        if b"\0" in encoded:
            raise ValueError("embedded null byte")
        handle = ctypes.c_void_p()
        result = lib.ZELTO_SongOpen(encoded, ctypes.byref(handle))
        if result != _native.OK:
            raise LoadError("%s: %s" % (self._path, lib.ZELTO_SongResultText(result).decode()),
                            _REASONS.get(result, "unknown"), self._path)
        self._lib = lib
        self._handle = handle.value
        info = _native.Info()
        lib.ZELTO_SongGetInfo(self._handle, ctypes.byref(info))
        self._info = info
        self._measures = None
        self._tracks = None

    # --- lifetime -------------------------------------------------------------
    def close(self):
        """Releases the song; every view of it raises SongClosedError from now on."""
        if self._handle is not None:
            self._lib.ZELTO_SongClose(self._handle)
            self._handle = None

    @property
    def closed(self):
        return self._handle is None

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.close()

    def __del__(self):
        if getattr(self, "_handle", None) is not None:
            self.close()

    def __repr__(self):
        state = "closed" if self._handle is None else repr(_text(self._info.title))
        return "<zelto.Song %s from %r>" % (state, self._path)

    def _open(self):
        if self._handle is None:
            _closed()
        return self._handle

    # --- song information -----------------------------------------------------
    def _info_text(name):
        def get(self):
            self._open()
            return _text(getattr(self._info, name))
        return property(get)

    def _info_value(name):
        def get(self):
            self._open()
            return getattr(self._info, name)
        return property(get)

    version = _info_text("version")
    title = _info_text("title")
    subtitle = _info_text("subtitle")
    artist = _info_text("interpret")
    album = _info_text("album")
    author = _info_text("author")
    copyright = _info_text("copyright")
    tab_author = _info_text("tabAuthor")
    instructions = _info_text("instructions")
    triplet_feel_byte = _info_value("tripletFeel")
    lyrics_track = _info_value("lyricsTrack")
    tempo = _info_value("tempo")
    key = _info_value("key")
    octave = _info_value("octave")
    measure_count = _info_value("measureCount")
    track_count = _info_value("trackCount")
    del _info_text, _info_value

    @property
    def triplet_feel(self):
        """True when the song is played with triplet feel (stored byte 1)."""
        return self.triplet_feel_byte == 1

    @property
    def notices(self):
        handle = self._open()
        return [_text(self._lib.ZELTO_SongGetNoticeLine(handle, line))
                for line in range(self._info.noticeLineCount)]

    @property
    def lyrics(self):
        """The five lyrics lines; None for a line the file could not hold."""
        handle = self._open()
        return [_text(self._lib.ZELTO_SongGetLyricsLine(handle, line)) for line in range(5)]

    @property
    def midi_channels(self):
        """The channel table: midi_channels[port][channel], both 0-based."""
        handle = self._open()
        entry = _native.MidiChannel()
        ports = []
        for port in range(4):
            channels = []
            for channel in range(16):
                self._lib.ZELTO_SongGetMidiChannel(handle, port, channel, ctypes.byref(entry))
                channels.append(MidiChannel(entry.instrument, entry.volume, entry.balance, entry.chorus,
                                            entry.reverb, entry.phaser, entry.tremolo))
            ports.append(channels)
        return ports

    @property
    def measures(self):
        """The measure headers: a tuple of one MeasureHeader per measure."""
        handle = self._open()
        if self._measures is None:
            header = _native.MeasureHeader()
            measures = []
            signature = (4, 4)
            for index in range(self._info.measureCount):
                self._lib.ZELTO_SongGetMeasure(handle, index, ctypes.byref(header))
                signature = (header.keyNumerator if header.flags & 0x01 else signature[0],
                             header.keyDenominator if header.flags & 0x02 else signature[1])
                measures.append(MeasureHeader(self, index, header, signature))
            self._measures = tuple(measures)
        return self._measures

    @property
    def tracks(self):
        """The tracks: a tuple of one Track each."""
        handle = self._open()
        if self._tracks is None:
            record = _native.Track()
            tracks = []
            for index in range(self._info.trackCount):
                self._lib.ZELTO_SongGetTrack(handle, index, ctypes.byref(record))
                tracks.append(Track(self, index, record))
            self._tracks = tuple(tracks)
        return self._tracks

    # --- rendering ------------------------------------------------------------
    def midi(self, performed=False, max_size=None):
        """The song as a Standard MIDI File (bytes): the library's plain
        export (every ending on every pass, no effects), or with
        performed=True its performed rendering (played as a guitarist would:
        endings on their passes, ties held, capo, articulations, ornaments).
        With max_size (bytes, 1 to 2**32 - 1), a file that would be larger is
        refused, and the rendering stops soon after it passes the size.
        Raises RenderError when the rendering cannot be made."""
        if max_size is not None and not 0 < max_size < 2 ** 32:
            raise ValueError("max_size must be from 1 to 2**32 - 1 bytes")
        handle = self._open()
        buffer = ctypes.c_void_p()
        size = ctypes.c_uint32()
        limit = ctypes.c_uint32()
        rendering = _native.MIDI_PERFORMED if performed else _native.MIDI_PLAIN
        result = self._lib.ZELTO_SongCreateMidiBufferWithin(handle, rendering, max_size or 0,
                                                            ctypes.byref(buffer), ctypes.byref(size),
                                                            ctypes.byref(limit))
        if result != _native.OK:
            raise RenderError("%s: %s" % (self._path, self._lib.ZELTO_SongResultText(result).decode()),
                              _REASONS.get(result, "unknown"), _native.LIMITS.get(limit.value))
        try:
            return ctypes.string_at(buffer.value, size.value)
        finally:
            self._lib.ZELTO_DestroyMidiBuffer(buffer)

    def musicxml(self):
        """The song as a MusicXML 4.0 score (bytes, UTF-8): one part per
        track, fretted tracks with a tablature staff, for notation programs.
        Raises RenderError when it cannot be made."""
        handle = self._open()
        buffer = ctypes.c_void_p()
        size = ctypes.c_uint32()
        result = self._lib.ZELTO_SongCreateMusicXml(handle, ctypes.byref(buffer), ctypes.byref(size))
        if result != _native.OK:
            raise RenderError("%s: %s" % (self._path, self._lib.ZELTO_SongResultText(result).decode()),
                              _REASONS.get(result, "unknown"), None)
        try:
            return ctypes.string_at(buffer.value, size.value)
        finally:
            self._lib.ZELTO_DestroyMidiBuffer(buffer)

    # --- the body, one track at a time --------------------------------------------
    def _read_track(self, track):
        """The beats and notes of a whole track, as two flat integer arrays,
        and the index of each measure's first beat: one foreign call."""
        handle = self._open()
        lib = self._lib
        measures = self._info.measureCount
        beat_count = ctypes.c_uint32()
        note_count = ctypes.c_uint32()
        starts = (ctypes.c_uint32 * (measures + 1))()
        lib.ZELTO_SongGetBeats(handle, track, 0, measures, None, 0, ctypes.byref(beat_count),
                               None, 0, ctypes.byref(note_count), None)
        beats = (ctypes.c_int32 * max(beat_count.value * _native.BEAT_FIELDS, 1))()
        notes = (ctypes.c_int32 * max(note_count.value * _native.NOTE_FIELDS, 1))()
        if not lib.ZELTO_SongGetBeats(handle, track, 0, measures, beats, beat_count.value,
                                      ctypes.byref(beat_count), notes, note_count.value,
                                      ctypes.byref(note_count), starts):
            raise IndexError("track %d could not be read" % track)
        beat_values = array.array("i")
        beat_values.frombytes(memoryview(beats).cast("B")[:beat_count.value * _BEAT_BYTES])
        note_values = array.array("i")
        note_values.frombytes(memoryview(notes).cast("B")[:note_count.value * _NOTE_BYTES])
        return beat_values, note_values, list(starts)


class _View:
    __slots__ = ("_song",)

    def _open(self):
        if self._song._handle is None:
            _closed()
        return self._song._handle


def _field(position, doc=None):
    def get(self):
        if self._song._handle is None:
            _closed()
        return self._a[self._o + position]
    return property(get, doc=doc)


def _flag(position, bit, doc=None):
    def get(self):
        if self._song._handle is None:
            _closed()
        return (self._a[self._o + position] & bit) != 0
    return property(get, doc=doc)


def _given(position, flags_position, bit, doc=None):
    """A field that the file gives only with a flag bit: None without it."""
    def get(self):
        if self._song._handle is None:
            _closed()
        fields, at = self._a, self._o
        return fields[at + position] if fields[at + flags_position] & bit else None
    return property(get, doc=doc)


class MeasureHeader(_View):
    """A measure header. numerator and denominator are None where the
    measure does not change them; time_signature is the (numerator,
    denominator) in force."""
    __slots__ = ("_a", "_o", "index", "_marker", "_signature")

    def __init__(self, song, index, header, signature):
        self._song = song
        self.index = index
        self._o = 0
        self._a = (header.flags, header.keyNumerator, header.keyDenominator, header.repeatCount,
                   header.altEndingCount, header.tonality, header.tonalityType)
        self._marker = Marker(_text(header.markerText), header.markerColor) if header.flags & 0x20 else None
        self._signature = signature

    flags = _field(0)
    numerator = _given(1, 0, 0x01)
    denominator = _given(2, 0, 0x02)
    begin_repeat = _flag(0, 0x04)
    end_repeat = _flag(0, 0x08)
    repeat_count = _given(3, 0, 0x08, "How often the section repeats, at an end of repeat; else None.")
    alternative_ending = _given(4, 0, 0x10, "The alternative-ending number as stored; else None.")
    tonality = _given(5, 0, 0x40)
    tonality_type = _given(6, 0, 0x40)
    double_bar = _flag(0, 0x80)

    @property
    def marker(self):
        """Marker(text, color), or None."""
        self._open()
        return self._marker

    @property
    def time_signature(self):
        self._open()
        return self._signature

    def __repr__(self):
        return "<zelto.MeasureHeader %d>" % self.index


class Track(_View):
    """A track: name, string_count, tunings (MIDI notes of its strings, first
    string first), all_tunings (all seven stored), midi_port, midi_channel,
    effects_midi_channel (all 1-based), fret_count, capo, color, flags, and
    measures: a tuple of one TrackMeasure per song measure."""
    __slots__ = ("index", "_record", "_measures", "_values")

    def __init__(self, song, index, record):
        self._song = song
        self.index = index
        self._record = (_text(record.name), record.flags, record.stringCount, tuple(record.tunings),
                        record.midiPort, record.midiChannel, record.effectsMidiChannel,
                        record.fretCount, record.capoHeight, record.color)
        self._measures = None
        self._values = None

    def _value(position):
        def get(self):
            self._open()
            return self._record[position]
        return property(get)

    name = _value(0)
    flags = _value(1)
    string_count = _value(2)
    all_tunings = _value(3)
    midi_port = _value(4)
    midi_channel = _value(5)
    effects_midi_channel = _value(6)
    fret_count = _value(7)
    capo = _value(8)
    color = _value(9)
    del _value

    @property
    def tunings(self):
        self._open()
        return self._record[3][:min(self._record[2], 7)]

    @property
    def measures(self):
        self._open()
        if self._measures is None:
            self._measures = tuple(TrackMeasure(self._song, self, index)
                                   for index in range(self._song._info.measureCount))
        return self._measures

    def __repr__(self):
        return "<zelto.Track %d %r>" % (self.index, self._record[0])


class TrackMeasure(_View):
    """What one track plays in one measure: `beats`, and `header`, the
    song's MeasureHeader of that measure. A track's beats and notes are read
    from the library in one call when the first of its measures is used, and
    kept as two integer arrays; Beat and Note objects are made from them on
    each access, so that a walk over a whole song leaves no object per note
    behind."""
    __slots__ = ("track", "index")

    def __init__(self, song, track, index):
        self._song = song
        self.track = track
        self.index = index

    @property
    def header(self):
        return self._song.measures[self.index]

    @property
    def beats(self):
        song = self._song
        if song._handle is None:
            _closed()
        track = self.track
        values = track._values
        if values is None:
            values = track._values = song._read_track(track.index)
        beat_values, starts = values[0], values[2]
        first = starts[self.index]
        return [Beat(song, self, index, beat_values, (first + index) * _native.BEAT_FIELDS)
                for index in range(starts[self.index + 1] - first)]

    def __repr__(self):
        return "<zelto.TrackMeasure track %d, measure %d>" % (self.track.index, self.index)


# Beat fields, in the order of ZELTO_SongBeat.
_B_FLAGS, _B_STATUS, _B_DURATION, _B_TUPLET, _B_STRINGS = range(5)


class Beat(_View):
    """One beat: duration (1 whole, 2 half, 4 quarter ... 64), duration_code
    (as stored: -2 whole ... 4 sixty-fourth), dotted, tuplet (n of an
    n-tuplet, or None), is_rest, is_empty, notes (the strings that hold a
    note, string 1 first), text, chord (ChordDiagram), effects (BeatEffects),
    mix_table (MixTableChange); each block None when the beat has none."""
    __slots__ = ("measure", "index", "_a", "_o")

    def __init__(self, song, measure, index, values, offset):
        self._song = song
        self.measure = measure
        self.index = index
        self._a = values
        self._o = offset

    flags = _field(_B_FLAGS)
    duration_code = _field(_B_DURATION)
    string_flags = _field(_B_STRINGS)
    dotted = _flag(_B_FLAGS, 0x01)
    tuplet = _given(_B_TUPLET, _B_FLAGS, 0x20)
    status = _given(_B_STATUS, _B_FLAGS, 0x40, "0 empty beat, 2 rest, or None when not given.")

    @property
    def duration(self):
        code = self.duration_code
        return 1 << (code + 2) if -2 <= code <= 4 else None

    @property
    def is_rest(self):
        return self.status == 2

    @property
    def is_empty(self):
        return self.status == 0

    @property
    def notes(self):
        song = self._song
        if song._handle is None:
            _closed()
        beat_values, at = self._a, self._o
        note_values = self.measure.track._values[1]
        size = _native.NOTE_FIELDS
        first = beat_values[at + 5] * size
        return tuple([Note(song, self, note_values, start)
                      for start in range(first, first + beat_values[at + 6] * size, size)])

    def _where(self):
        return (self._song._handle, self.measure.index, self.measure.track.index, self.index)

    @property
    def text(self):
        self._open()
        if not self._a[self._o + _B_FLAGS] & 0x04:
            return None
        return _text(self._song._lib.ZELTO_SongGetBeatText(*self._where()))

    @property
    def chord(self):
        self._open()
        if not self._a[self._o + _B_FLAGS] & 0x02:
            return None
        record = _native.ChordDiagram()
        if not self._song._lib.ZELTO_SongGetChordDiagram(*self._where(), ctypes.byref(record)):
            return None
        barres = tuple(Barre(record.barreFrets[k], record.barreStarts[k], record.barreEnds[k])
                       for k in range(min(record.barreCount, 5)))
        return ChordDiagram(_text(record.name), record.format, record.sharp, record.root, record.chordType,
                            record.extension, record.bass, record.tonality, record.add, record.fifth,
                            record.ninth, record.eleventh, record.baseFret, tuple(record.frets), barres,
                            tuple(record.omissions), tuple(record.fingerings), record.showFingering)

    @property
    def effects(self):
        self._open()
        if not self._a[self._o + _B_FLAGS] & 0x08:
            return None
        record = _native.BeatEffect()
        if not self._song._lib.ZELTO_SongGetBeatEffect(*self._where(), ctypes.byref(record)):
            return None
        bar = _read_bend(self._song._lib.ZELTO_SongGetTremoloBar, self._where()) if record.flags2 & 0x04 else None
        return BeatEffects(record, bar)

    @property
    def mix_table(self):
        self._open()
        if not self._a[self._o + _B_FLAGS] & 0x10:
            return None
        record = _native.MixTableChange()
        if not self._song._lib.ZELTO_SongGetMixTableChange(*self._where(), ctypes.byref(record)):
            return None
        values = [None if getattr(record, name) == 0xFF else getattr(record, name)
                  for name in ("instrument", "volume", "balance", "chorus", "reverb", "phaser", "tremolo")]
        tempo = None if record.tempo == -1 else record.tempo
        return MixTableChange(*values, tempo, record.volumeDuration, record.balanceDuration,
                              record.chorusDuration, record.reverbDuration, record.phaserDuration,
                              record.tremoloDuration, record.tempoDuration, record.applyToAllTracks)

    def __repr__(self):
        return "<zelto.Beat %d of track %d, measure %d>" % (self.index, self.measure.track.index, self.measure.index)


def _read_bend(function, where, string=None):
    bend = _native.Bend()
    arguments = where if string is None else where + (string,)
    if not function(*arguments, ctypes.byref(bend), None, 0):
        return None
    points = (_native.BendPoint * max(bend.pointCount, 1))()
    function(*arguments, ctypes.byref(bend), points, bend.pointCount)
    return Bend(bend.bendType, bend.bendValue,
                tuple(BendPoint(p.position, p.value, p.vibrato) for p in points[:bend.pointCount]))


class BeatEffects:
    """The effects of a beat: vibrato, wide_vibrato, fade_in, rasgueado
    (bools), tapping (the tapping, slapping or popping kind, or None),
    stroke_speeds (the two stroke bytes, or None), pick_stroke (or None),
    tremolo_bar (Bend or None), flags1 and flags2 as stored."""
    __slots__ = ("flags1", "flags2", "tapping", "stroke_speeds", "pick_stroke", "tremolo_bar")

    def __init__(self, record, tremolo_bar):
        self.flags1 = record.flags1
        self.flags2 = record.flags2
        self.tapping = record.tappingType if record.flags1 & 0x20 else None
        self.stroke_speeds = tuple(record.strokeSpeeds) if record.flags1 & 0x40 else None
        self.pick_stroke = record.pickStroke if record.flags2 & 0x02 else None
        self.tremolo_bar = tremolo_bar

    vibrato = property(lambda self: bool(self.flags1 & 0x01))
    wide_vibrato = property(lambda self: bool(self.flags1 & 0x02))
    fade_in = property(lambda self: bool(self.flags1 & 0x10))
    rasgueado = property(lambda self: bool(self.flags2 & 0x01))


# Note fields, in the order of ZELTO_SongNote.
(_N_STRING, _N_FLAGS, _N_TYPE, _N_FRET, _N_DYNAMIC, _N_DURATION, _N_TUPLET, _N_LEFT, _N_RIGHT,
 _N_EFFECTS1, _N_EFFECTS2, _N_GRACE) = range(12)
_N_TREMOLO_PICKING, _N_SLIDE, _N_HARMONIC, _N_TRILL = 15, 16, 17, 18


class Note(_View):
    """One note: string (1 = the first string), fret, type (1 normal, 2 tie,
    3 dead, 0 not given), is_tie, is_dead, dynamic (1 softest to 8 loudest,
    or None), duration_code and tuplet of its own duration (or None),
    left_finger and right_finger (or None), effects (NoteEffects or None)."""
    __slots__ = ("beat", "_a", "_o")

    def __init__(self, song, beat, values, offset):
        self._song = song
        self.beat = beat
        self._a = values
        self._o = offset

    string = _field(_N_STRING)
    flags = _field(_N_FLAGS)
    fret = _field(_N_FRET)
    type = _field(_N_TYPE)
    dynamic = _given(_N_DYNAMIC, _N_FLAGS, 0x10)
    duration_code = _given(_N_DURATION, _N_FLAGS, 0x01)
    tuplet = _given(_N_TUPLET, _N_FLAGS, 0x01)
    left_finger = _given(_N_LEFT, _N_FLAGS, 0x80)
    right_finger = _given(_N_RIGHT, _N_FLAGS, 0x80)

    @property
    def is_tie(self):
        return self.type == 2

    @property
    def is_dead(self):
        return self.type == 3

    @property
    def effects(self):
        self._open()
        return NoteEffects(self) if self._a[self._o + _N_FLAGS] & 0x08 else None

    def __repr__(self):
        return "<zelto.Note string %d fret %d>" % (self._a[self._o + _N_STRING], self._a[self._o + _N_FRET])


class NoteEffects:
    """The effects of a note: bend (Bend or None), grace (Grace or None),
    tremolo_picking, slide, harmonic (their stored kinds, or None), trill
    (Trill or None), hammer_on (hammer-on or pull-off), let_ring, staccato,
    palm_mute, vibrato (bools), flags1 and flags2 as stored."""
    __slots__ = ("_note",)

    def __init__(self, note):
        self._note = note

    def _fields(self):
        self._note._open()
        note = self._note
        return note._a[note._o:note._o + _native.NOTE_FIELDS]

    flags1 = property(lambda self: self._fields()[_N_EFFECTS1])
    flags2 = property(lambda self: self._fields()[_N_EFFECTS2])
    hammer_on = property(lambda self: bool(self.flags1 & 0x02))
    let_ring = property(lambda self: bool(self.flags1 & 0x08))
    staccato = property(lambda self: bool(self.flags2 & 0x01))
    palm_mute = property(lambda self: bool(self.flags2 & 0x02))
    vibrato = property(lambda self: bool(self.flags2 & 0x40))

    def _given2(bit, position):
        return property(lambda self: self._fields()[position] if self.flags2 & bit else None)

    tremolo_picking = _given2(0x04, _N_TREMOLO_PICKING)
    slide = _given2(0x08, _N_SLIDE)
    harmonic = _given2(0x10, _N_HARMONIC)
    del _given2

    @property
    def grace(self):
        fields = self._fields()
        return Grace(*fields[_N_GRACE:_N_GRACE + 4]) if fields[_N_EFFECTS1] & 0x10 else None

    @property
    def trill(self):
        fields = self._fields()
        return Trill(*fields[_N_TRILL:_N_TRILL + 2]) if fields[_N_EFFECTS2] & 0x20 else None

    @property
    def bend(self):
        fields = self._fields()
        if not fields[_N_EFFECTS1] & 0x01:
            return None
        note = self._note
        return _read_bend(note._song._lib.ZELTO_SongGetBend, note.beat._where(), fields[_N_STRING])
