// song_check.cpp - runs one hostile input through the whole public interface
// and checks the promises a host relies on: a load gives a complete song or
// none, queries stay inside the song, an export gives 0 with the host's
// variables untouched, 1 with a null buffer and size 0, or a well-formed
// MIDI file, and after the release the library is as clean as at start-up.
//
// Beyond the public interface it reads the loaded song's records (the
// library's global song) for two things only: every field of the song as
// text before and after the exports, so that an export that changes the
// song is caught; and the export's cost, counted with the library's own
// playing-order walk and timing before the export runs, so that one input
// cannot stall a fuzzing run.
#include "song_check.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gp/convert.h"
#include "gp/perform.h"
#include "gp/song.h"
#include "gp4_writer.h"
#include "smf_check.h"
#include "song_text.h"
#include "zelto.h"
#include "zelto/global.h"
#include "zelto_musicxml.h"
#include "zelto_performed.h"
#include "zelto_song.h"

namespace fuzzcheck {
namespace {

constexpr std::uint32_t lastIndex = 0xFFFFFFFFu;
using Talvoren::lyricsLineCount;
using Talvoren::midiChannelCount;
using Talvoren::midiPortCount;
using Talvoren::tuningCount;
constexpr std::uint32_t ticksPerQuarter = 480;
constexpr std::uint32_t pulsesPerSixtyFourth = 30;
constexpr std::uint32_t hostSizeSentinel = 0xA5A5A5A5u;
constexpr std::uint8_t percussionChannel = 9;  // where the performed rendering plays drum tracks

// The two export entry points: the plain export and the performed rendering.
using BufferExport = int (*)(unsigned char **buffer, std::uint32_t *size);

// ---------------------------------------------------------------------------
// Files the library reads. The input lives in one memory file, rewritten for
// every run and opened by the library through its /proc path; the known good
// song is written once.

struct InputFile {
    int descriptor = -1;
    std::string path;
};

InputFile &TheInputFile() {
    static InputFile input;
    if (input.descriptor < 0) {
        input.descriptor = memfd_create("zelto-fuzz-input", MFD_CLOEXEC);
        if (input.descriptor < 0) {
            std::perror("memfd_create");
            std::abort();
        }
        input.path = "/proc/self/fd/" + std::to_string(input.descriptor);
    }
    return input;
}

const std::string &WriteInput(const std::uint8_t *data, std::size_t size) {
    InputFile &input = TheInputFile();
    if (ftruncate(input.descriptor, 0) != 0) {
        std::perror("ftruncate");
        std::abort();
    }
    std::size_t written = 0;
    while (written < size) {
        const ssize_t result = pwrite(input.descriptor, data + written, size - written,
                                      static_cast<off_t>(written));
        if (result <= 0) {
            std::perror("pwrite");
            std::abort();
        }
        written += static_cast<std::size_t>(result);
    }
    return input.path;
}

struct KnownGoodSong {
    std::string path;
    std::string title;
    std::uint32_t measureCount = 0;
    std::uint32_t trackCount = 0;
};

const KnownGoodSong &TheKnownGoodSong() {
    static const KnownGoodSong song = [] {
        gp4::Song description = gp4::MinimalSong();
        description.title = "Known good";
        KnownGoodSong made;
        made.path = gp4::WriteTempFile(gp4::WriteSong(description), "known-good.gp4");
        made.title = description.title;
        made.measureCount = static_cast<std::uint32_t>(description.measures.size());
        made.trackCount = static_cast<std::uint32_t>(description.tracks.size());
        return made;
    }();
    return song;
}

// ---------------------------------------------------------------------------
// Failures and the fingerprint of what the queries answer.

void Fail(std::string &failure, const std::string &what) {
    if (failure.empty()) failure = what;
}

std::string At(const char *query, std::uint32_t index) {
    return std::string(query) + "(" + std::to_string(index) + ")";
}

// Reads the whole string, so that a missing terminator is caught by the sanitizers.
void ReadWholeText(const char *text) {
    if (text == nullptr) return;
    volatile std::size_t length = std::strlen(text);
    (void)length;
}

// ---------------------------------------------------------------------------
// With no song loaded every query answers 0 or null and the export refuses.

void CheckExportRefused(std::string &failure, const char *when) {
    for (BufferExport createBuffer : {ZELTO_CreateMidiBuffer, ZELTO_CreatePerformedMidiBuffer}) {
        unsigned char sentinel = 0;
        unsigned char *buffer = &sentinel;
        std::uint32_t size = hostSizeSentinel;
        const int result = createBuffer(&buffer, &size);
        if (result != 0)
            Fail(failure, std::string("export without a song returned ") + std::to_string(result) + " " + when);
        if (buffer != &sentinel || size != hostSizeSentinel)
            Fail(failure, std::string("export without a song wrote the host's variables ") + when);
        if (result == 1 && buffer != &sentinel && buffer != nullptr) ZELTO_DestroyMidiBuffer(buffer);
    }
}

void CheckNoSong(std::string &failure, const char *when) {
    const std::string suffix = std::string(" is not empty ") + when;
    const char *texts[] = {ZELTO_GetTitle(),    ZELTO_GetSubtitle(),  ZELTO_GetInterpret(),
                           ZELTO_GetAlbum(),    ZELTO_GetAuthor(),    ZELTO_GetCopyright(),
                           ZELTO_GetTabAuthor(), ZELTO_GetInstructions(), ZELTO_GetNoticeLine(0),
                           ZELTO_GetLyricsLine(0), ZELTO_GetMeasureMarkerText(0), ZELTO_GetTrackName(0)};
    for (const char *text : texts)
        if (text != nullptr) Fail(failure, "a text query" + suffix);
    if (ZELTO_GetMidiChannel(0, 0) != nullptr) Fail(failure, "ZELTO_GetMidiChannel(0, 0)" + suffix);
    const std::int64_t values[] = {ZELTO_GetNoticeLineCount(),
                                   ZELTO_IsTripletFeelEnabled(),
                                   ZELTO_GetLyricsTrack(),
                                   ZELTO_GetTempo(),
                                   ZELTO_GetKey(),
                                   ZELTO_GetOctave(),
                                   ZELTO_GetMeasureCount(),
                                   ZELTO_IsMeasureKeyNumeratorPresent(0),
                                   ZELTO_IsMeasureKeyDenominatorPresent(0),
                                   ZELTO_IsMeasureBeginRepeatPresent(0),
                                   ZELTO_IsMeasureEndRepeatPresent(0),
                                   ZELTO_IsMeasureMarkerPresent(0),
                                   ZELTO_IsMeasureTonalityPresent(0),
                                   ZELTO_IsMeasureDoubleBarPresent(0),
                                   ZELTO_GetMeasureKeyNumerator(0),
                                   ZELTO_GetMeasureKeyDenominator(0),
                                   ZELTO_GetMeasureRepeatCount(0),
                                   ZELTO_GetMeasureAltEndingCount(0),
                                   ZELTO_GetMeasureMarkerColor(0),
                                   ZELTO_GetMeasureTonality(0),
                                   ZELTO_GetTrackCount(),
                                   ZELTO_GetTrackStringCount(0),
                                   ZELTO_GetTrackTuning(0, 0),
                                   ZELTO_GetTrackMidiPort(0),
                                   ZELTO_GetTrackMidiChannel(0),
                                   ZELTO_GetTrackEffectsMidiChannel(0),
                                   ZELTO_GetTrackFretCount(0),
                                   ZELTO_GetTrackCapoHeight(0),
                                   ZELTO_GetTrackColor(0)};
    for (std::int64_t value : values)
        if (value != 0) Fail(failure, "a value query" + suffix);
    CheckExportRefused(failure, when);
}

// ---------------------------------------------------------------------------
// With a song loaded: every query at every index and at the boundaries.

void CheckPresence(std::string &failure, const char *query, std::uint32_t measure, int answer) {
    if (answer != 0 && answer != 1) Fail(failure, At(query, measure) + " answered " + std::to_string(answer));
}

// A measure whose flag bit is clear holds 0 in the field the bit announces.
void CheckMeasure(std::string &failure, std::uint32_t measure) {
    const int hasNumerator = ZELTO_IsMeasureKeyNumeratorPresent(measure);
    const int hasDenominator = ZELTO_IsMeasureKeyDenominatorPresent(measure);
    const int beginsRepeat = ZELTO_IsMeasureBeginRepeatPresent(measure);
    const int endsRepeat = ZELTO_IsMeasureEndRepeatPresent(measure);
    const int hasMarker = ZELTO_IsMeasureMarkerPresent(measure);
    const int hasTonality = ZELTO_IsMeasureTonalityPresent(measure);
    const int hasDoubleBar = ZELTO_IsMeasureDoubleBarPresent(measure);
    CheckPresence(failure, "ZELTO_IsMeasureKeyNumeratorPresent", measure, hasNumerator);
    CheckPresence(failure, "ZELTO_IsMeasureKeyDenominatorPresent", measure, hasDenominator);
    CheckPresence(failure, "ZELTO_IsMeasureBeginRepeatPresent", measure, beginsRepeat);
    CheckPresence(failure, "ZELTO_IsMeasureEndRepeatPresent", measure, endsRepeat);
    CheckPresence(failure, "ZELTO_IsMeasureMarkerPresent", measure, hasMarker);
    CheckPresence(failure, "ZELTO_IsMeasureTonalityPresent", measure, hasTonality);
    CheckPresence(failure, "ZELTO_IsMeasureDoubleBarPresent", measure, hasDoubleBar);
    const std::uint32_t numerator = ZELTO_GetMeasureKeyNumerator(measure);
    const std::uint32_t denominator = ZELTO_GetMeasureKeyDenominator(measure);
    const std::uint32_t repeatCount = ZELTO_GetMeasureRepeatCount(measure);
    const std::uint32_t altEnding = ZELTO_GetMeasureAltEndingCount(measure);
    const char *markerText = ZELTO_GetMeasureMarkerText(measure);
    const std::uint32_t markerColor = ZELTO_GetMeasureMarkerColor(measure);
    const std::int32_t tonality = ZELTO_GetMeasureTonality(measure);
    if (!hasNumerator && numerator != 0) Fail(failure, At("ZELTO_GetMeasureKeyNumerator", measure) + " without its bit");
    if (!hasDenominator && denominator != 0)
        Fail(failure, At("ZELTO_GetMeasureKeyDenominator", measure) + " without its bit");
    if (!endsRepeat && repeatCount != 0) Fail(failure, At("ZELTO_GetMeasureRepeatCount", measure) + " without its bit");
    if (!hasTonality && tonality != 0) Fail(failure, At("ZELTO_GetMeasureTonality", measure) + " without its bit");
    if (numerator > 0xFF || denominator > 0xFF || repeatCount > 0xFF || altEnding > 0xFF)
        Fail(failure, At("a byte field of measure", measure) + " widened with a sign");
    if (tonality < -128 || tonality > 127) Fail(failure, At("ZELTO_GetMeasureTonality", measure) + " out of int8");
    if (hasMarker && markerText == nullptr) Fail(failure, At("ZELTO_GetMeasureMarkerText", measure) + " is null");
    if (!hasMarker && (markerText != nullptr || markerColor != 0))
        Fail(failure, At("the marker of measure", measure) + " without its bit");
    ReadWholeText(markerText);
}

void CheckMeasureOutOfRange(std::string &failure, std::uint32_t measure) {
    const std::int64_t values[] = {ZELTO_IsMeasureKeyNumeratorPresent(measure),
                                   ZELTO_IsMeasureKeyDenominatorPresent(measure),
                                   ZELTO_IsMeasureBeginRepeatPresent(measure),
                                   ZELTO_IsMeasureEndRepeatPresent(measure),
                                   ZELTO_IsMeasureMarkerPresent(measure),
                                   ZELTO_IsMeasureTonalityPresent(measure),
                                   ZELTO_IsMeasureDoubleBarPresent(measure),
                                   ZELTO_GetMeasureKeyNumerator(measure),
                                   ZELTO_GetMeasureKeyDenominator(measure),
                                   ZELTO_GetMeasureRepeatCount(measure),
                                   ZELTO_GetMeasureAltEndingCount(measure),
                                   ZELTO_GetMeasureMarkerColor(measure),
                                   ZELTO_GetMeasureTonality(measure)};
    for (std::int64_t value : values)
        if (value != 0) Fail(failure, At("a measure query", measure) + " out of range is not 0");
    if (ZELTO_GetMeasureMarkerText(measure) != nullptr)
        Fail(failure, At("ZELTO_GetMeasureMarkerText", measure) + " out of range is not null");
}

void CheckTrack(std::string &failure, std::uint32_t track) {
    const char *name = ZELTO_GetTrackName(track);
    if (name == nullptr) Fail(failure, At("ZELTO_GetTrackName", track) + " is null");
    ReadWholeText(name);
    if (ZELTO_GetTrackTuning(track, tuningCount) != 0 || ZELTO_GetTrackTuning(track, lastIndex) != 0)
        Fail(failure, At("ZELTO_GetTrackTuning of a string out of range, track", track) + " is not 0");
}

void CheckTrackOutOfRange(std::string &failure, std::uint32_t track) {
    const std::int64_t values[] = {ZELTO_GetTrackStringCount(track),     ZELTO_GetTrackTuning(track, 0),
                                   ZELTO_GetTrackTuning(track, 6),       ZELTO_GetTrackMidiPort(track),
                                   ZELTO_GetTrackMidiChannel(track),     ZELTO_GetTrackEffectsMidiChannel(track),
                                   ZELTO_GetTrackFretCount(track),       ZELTO_GetTrackCapoHeight(track),
                                   ZELTO_GetTrackColor(track)};
    for (std::int64_t value : values)
        if (value != 0) Fail(failure, At("a track query", track) + " out of range is not 0");
    if (ZELTO_GetTrackName(track) != nullptr) Fail(failure, At("ZELTO_GetTrackName", track) + " out of range is not null");
}

// Runs every query of the loaded song.
void CheckLoadedSong(std::string &failure) {
    const char *information[] = {ZELTO_GetTitle(),     ZELTO_GetSubtitle(),  ZELTO_GetInterpret(),
                                 ZELTO_GetAlbum(),     ZELTO_GetAuthor(),    ZELTO_GetCopyright(),
                                 ZELTO_GetTabAuthor(), ZELTO_GetInstructions()};
    for (const char *text : information) {
        if (text == nullptr) Fail(failure, "a song information text of a loaded song is null");
        ReadWholeText(text);
    }

    const std::uint32_t noticeLineCount = ZELTO_GetNoticeLineCount();
    for (std::uint32_t line = 0; line < noticeLineCount; ++line) {
        const char *text = ZELTO_GetNoticeLine(line);
        if (text == nullptr) Fail(failure, At("ZELTO_GetNoticeLine", line) + " of a loaded song is null");
        ReadWholeText(text);
    }
    if (ZELTO_GetNoticeLine(noticeLineCount) != nullptr || ZELTO_GetNoticeLine(lastIndex) != nullptr)
        Fail(failure, "ZELTO_GetNoticeLine out of range is not null");

    const std::uint32_t tripletFeel = ZELTO_IsTripletFeelEnabled();
    if (tripletFeel > 0xFF) Fail(failure, "ZELTO_IsTripletFeelEnabled is wider than its byte");
    for (std::uint32_t line = 0; line < lyricsLineCount; ++line) ReadWholeText(ZELTO_GetLyricsLine(line));
    if (ZELTO_GetLyricsLine(lyricsLineCount) != nullptr || ZELTO_GetLyricsLine(lastIndex) != nullptr)
        Fail(failure, "ZELTO_GetLyricsLine out of range is not null");

    const std::int32_t key = ZELTO_GetKey();
    if (key < -128 || key > 127) Fail(failure, "ZELTO_GetKey is outside a signed byte");

    const ZELTO_MidiChannelInfo *firstEntry = ZELTO_GetMidiChannel(0, 0);
    for (std::uint32_t port = 0; port <= midiPortCount; ++port) {
        for (std::uint32_t channel = 0; channel <= midiChannelCount; ++channel) {
            const ZELTO_MidiChannelInfo *entry = ZELTO_GetMidiChannel(port, channel);
            const bool valid = port < midiPortCount && channel < midiChannelCount;
            if (!valid && entry != nullptr) {
                Fail(failure, "ZELTO_GetMidiChannel(" + std::to_string(port) + ", " + std::to_string(channel) +
                                  ") out of range is not null");
            } else if (valid && (firstEntry == nullptr || entry != firstEntry + port * midiChannelCount + channel)) {
                Fail(failure, "ZELTO_GetMidiChannel(" + std::to_string(port) + ", " + std::to_string(channel) +
                                  ") is not its entry of the table");
            }
        }
    }
    if (ZELTO_GetMidiChannel(lastIndex, 0) != nullptr || ZELTO_GetMidiChannel(0, lastIndex) != nullptr)
        Fail(failure, "ZELTO_GetMidiChannel with an index of -1 is not null");

    const std::uint32_t measureCount = ZELTO_GetMeasureCount();
    for (std::uint32_t measure = 0; measure < measureCount; ++measure) CheckMeasure(failure, measure);
    CheckMeasureOutOfRange(failure, measureCount);
    CheckMeasureOutOfRange(failure, lastIndex);

    const std::uint32_t trackCount = ZELTO_GetTrackCount();
    for (std::uint32_t track = 0; track < trackCount; ++track) CheckTrack(failure, track);
    CheckTrackOutOfRange(failure, trackCount);
    CheckTrackOutOfRange(failure, lastIndex);
}

// ---------------------------------------------------------------------------
// The export's cost, counted before it runs as the library counts it for its
// render limits: the measures played (repeats expanded by the library's own
// walk) times the chunks, and an upper bound of the event bytes, from every
// played measure's beats. The fuzz limits are far below the library's.

// Upper bound of the bytes one started beat adds: a tempo change, program and
// volume on two channels, seven note-ons and seven note-offs, delta times included.
constexpr std::uint64_t largestBeatBytes = 10 + 26 + 7 * 7 + 7 * 7;

bool IsExportWithinLimits(const Limits &limits) {
    Talvoren::FileStruct *song = Talvoren::theFileStruct;
    if (song == nullptr) return true;
    const std::uint32_t measureCount = song->headers.pieceInfo.measureCount;
    const std::uint32_t trackCount = song->headers.pieceInfo.trackCount;
    const std::uint64_t chunkCount = std::uint64_t{trackCount} + 1;
    std::uint64_t measureVisits = 0;
    std::uint64_t eventBytes = 0;
    std::uint8_t numerator = 0;
    std::uint8_t denominator = 0;
    for (std::uint32_t measureIndex = Talvoren::GetFirstMeasureIdx(song); measureIndex < measureCount;
         measureIndex = Talvoren::GetNextMeasureIdx(song, measureIndex)) {
        const Talvoren::Measure *measure = &song->body.measures[measureIndex];
        Talvoren::UpdateTimeSignature(measure, &numerator, &denominator);
        const std::uint64_t pulses =
            Talvoren::GetMeasurePulseCount(measure, pulsesPerSixtyFourth, numerator, denominator);
        measureVisits += chunkCount;
        eventBytes += 32;  // a time signature and a marker's opening
        for (std::uint32_t track = 0; track < trackCount && pulses != 0; ++track) {
            const std::uint64_t beatCount = song->body.measureTrackPairs[measureIndex][track].beatCount;
            eventBytes += (beatCount < pulses ? beatCount : pulses) * largestBeatBytes + 7 * 7;
        }
        if (measureVisits > limits.largestMeasureVisits || eventBytes > limits.largestEventBytes) {
            Talvoren::ResetPassCounters(song);
            return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// The export, checked as the host would see it.

struct Export {
    int result = -1;
    bool made = false;
    std::vector<std::uint8_t> bytes;
};

// Every beat that sounds is released at its end or at the end of its
// measure, so no note-on is left sounding when its track ends. (A note-off
// without a note-on is allowed: a tied note is released but never started.)
void CheckEveryNoteEnds(std::string &failure, const smf::Track &track, std::size_t chunk) {
    constexpr std::uint8_t noteOff = 0x80;
    constexpr std::uint8_t noteOn = 0x90;
    std::vector<std::uint32_t> sounding(16 * 128, 0);
    for (const smf::Event &event : track.events) {
        if (!event.IsChannel() || (event.Kind() != noteOn && event.Kind() != noteOff) || event.data.size() != 2)
            continue;
        std::uint32_t &count = sounding[event.Channel() * 128u + event.data[0]];
        if (event.Kind() == noteOn && event.data[1] != 0) {
            ++count;
        } else if (count != 0) {
            --count;
        }
    }
    for (std::size_t note = 0; note < sounding.size(); ++note) {
        if (sounding[note] != 0) {
            Fail(failure, "track chunk " + std::to_string(chunk) + " ends with key " + std::to_string(note % 128) +
                              " on channel " + std::to_string(note / 128) + " still sounding");
            return;
        }
    }
}

// The conductor track carries the title and no channel event; chunk k + 1
// carries the name of song track k and, when the track's channels lie in
// 1 to 16, channel events on those channels only (in the performed
// rendering, drum tracks play on the percussion channel).
void CheckChunksBelongToTheirTracks(std::string &failure, const smf::File &parsed, bool performed) {
    constexpr std::uint8_t trackNameMeta = 0x03;
    const char *title = ZELTO_GetTitle();
    if (smf::FirstMetaText(parsed.tracks[0], trackNameMeta) != (title != nullptr ? title : ""))
        Fail(failure, "the conductor track is not named after the song title");
    for (const smf::Event &event : parsed.tracks[0].events)
        if (event.IsChannel()) Fail(failure, "the conductor track carries a channel event");
    for (std::size_t chunk = 1; chunk < parsed.tracks.size(); ++chunk) {
        const std::uint32_t track = static_cast<std::uint32_t>(chunk - 1);
        const char *name = ZELTO_GetTrackName(track);
        if (smf::FirstMetaText(parsed.tracks[chunk], trackNameMeta) != (name != nullptr ? name : ""))
            Fail(failure, "track chunk " + std::to_string(chunk) + " is not named after its song track");
        CheckEveryNoteEnds(failure, parsed.tracks[chunk], chunk);
        const std::uint32_t channel = ZELTO_GetTrackMidiChannel(track);
        const std::uint32_t effectsChannel = ZELTO_GetTrackEffectsMidiChannel(track);
        if (channel < 1 || channel > midiChannelCount || effectsChannel < 1 || effectsChannel > midiChannelCount)
            continue;
        for (const smf::Event &event : parsed.tracks[chunk].events) {
            if (event.IsChannel() && event.Channel() != channel - 1 && event.Channel() != effectsChannel - 1 &&
                !(performed && event.Channel() == percussionChannel))
                Fail(failure, "track chunk " + std::to_string(chunk) + " has an event on channel " +
                                  std::to_string(event.Channel()) + ", not on its track's");
        }
    }
}

Export RunExport(std::string &failure, std::uint32_t trackCount, BufferExport createBuffer, bool performed) {
    Export done;
    unsigned char sentinel = 0;
    unsigned char *buffer = &sentinel;
    std::uint32_t size = hostSizeSentinel;
    done.result = createBuffer(&buffer, &size);
    if (done.result == 0) {
        if (buffer != &sentinel || size != hostSizeSentinel)
            Fail(failure, "export returned 0 but wrote the host's variables");
        return done;
    }
    if (done.result != 1) {
        Fail(failure, "export returned " + std::to_string(done.result));
        return done;
    }
    if (buffer == &sentinel) {
        Fail(failure, "export returned 1 without writing the host's buffer pointer");
        return done;
    }
    if (buffer == nullptr) {
        if (size != 0) Fail(failure, "export gave a null buffer with size " + std::to_string(size));
        return done;
    }
    done.made = true;
    done.bytes.assign(buffer, buffer + size);
    ZELTO_DestroyMidiBuffer(buffer);

    smf::File parsed;
    std::string error;
    if (!smf::Parse(done.bytes.data(), done.bytes.size(), &parsed, &error)) {
        Fail(failure, "export gave a malformed MIDI file: " + error);
    } else if (parsed.format != 1 || parsed.division != ticksPerQuarter ||
               parsed.trackCount != static_cast<std::uint64_t>(trackCount) + 1) {
        Fail(failure, "export gave format " + std::to_string(parsed.format) + ", division " +
                          std::to_string(parsed.division) + ", " + std::to_string(parsed.trackCount) +
                          " track chunks for a song of " + std::to_string(trackCount) + " tracks");
    } else {
        CheckChunksBelongToTheirTracks(failure, parsed, performed);
    }
    return done;
}

// The performed rendering repeats notes for ornaments: its own bound of
// events decides, at the most bytes of a channel event each (a delta time of
// 4 bytes and 3 of event).
bool IsPerformedWithinLimits(const Limits &limits) {
    constexpr std::uint64_t largestChannelEventBytes = 7;
    const std::uint64_t performedEvents =
        Talvoren::GetPerformedEventBound(Talvoren::theFileStruct, pulsesPerSixtyFourth);
    return performedEvents <= limits.largestEventBytes / largestChannelEventBytes;
}

// What a song handle rendered, for comparison with the global exports.
struct HandleRenderings {
    bool plainRan = false;
    bool performedRan = false;
    Export plain;
    Export performed;
};

// A handle's rendering and the global export of the same song agree: both
// make a file, the same bytes, or neither does.
void CheckSameRendering(std::string &failure, const Export &global, const Export &handle, const char *which) {
    if (global.made != (handle.result == ZELTO_SONG_OK) || global.bytes != handle.bytes)
        Fail(failure, std::string("the song handle's ") + which + " rendering differs from the global one");
}

void CheckExports(std::string &failure, Outcome &outcome, bool performedExportable,
                  const HandleRenderings &handle) {
    const std::uint32_t trackCount = ZELTO_GetTrackCount();
    const Export first = RunExport(failure, trackCount, ZELTO_CreateMidiBuffer, false);
    const Export second = RunExport(failure, trackCount, ZELTO_CreateMidiBuffer, false);
    outcome.exported = true;
    outcome.midiBufferMade = first.made;
    // Only a failed allocation may make two exports differ, and the normal heap has none to spare here.
    if (first.result != second.result || first.made != second.made || first.bytes != second.bytes)
        Fail(failure, "two exports of the same song differ");
    if (handle.plainRan) CheckSameRendering(failure, first, handle.plain, "plain");

    if (!performedExportable) return;
    const Export performed = RunExport(failure, trackCount, ZELTO_CreatePerformedMidiBuffer, true);
    const Export again = RunExport(failure, trackCount, ZELTO_CreatePerformedMidiBuffer, true);
    outcome.performedExported = true;
    if (performed.result != again.result || performed.made != again.made || performed.bytes != again.bytes)
        Fail(failure, "two performed renderings of the same song differ");
    if (performed.result != first.result) Fail(failure, "the performed rendering and the export disagree on refusing");
    if (handle.performedRan) CheckSameRendering(failure, performed, handle.performed, "performed");
}

// A song handle's measure headers, tracks, notice and lyrics lines and
// channel table say what the global song's queries say, and every index out
// of range gives 0 or null.
void CheckSongHandleRecords(std::string &failure, const ZELTO_Song *song, const ZELTO_SongInfo &info) {
    if (info.measureCount != ZELTO_GetMeasureCount() || info.trackCount != ZELTO_GetTrackCount() ||
        info.noticeLineCount != ZELTO_GetNoticeLineCount())
        Fail(failure, "ZELTO_SongGetInfo and the global queries disagree");
    for (std::uint32_t line = 0; line <= info.noticeLineCount; ++line) {
        const char *text = ZELTO_SongGetNoticeLine(song, line);
        const char *global = ZELTO_GetNoticeLine(line);
        if ((text == nullptr) != (global == nullptr) || (text != nullptr && std::strcmp(text, global) != 0))
            Fail(failure, At("ZELTO_SongGetNoticeLine", line) + " differs from the global song's");
    }
    for (std::uint32_t line = 0; line <= lyricsLineCount; ++line) {
        const char *text = ZELTO_SongGetLyricsLine(song, line);
        const char *global = ZELTO_GetLyricsLine(line);
        if ((text == nullptr) != (global == nullptr) || (text != nullptr && std::strcmp(text, global) != 0))
            Fail(failure, At("ZELTO_SongGetLyricsLine", line) + " differs from the global song's");
    }
    for (std::uint32_t port = 0; port <= midiPortCount; ++port) {
        for (std::uint32_t channel = 0; channel <= midiChannelCount; ++channel) {
            ZELTO_MidiChannelInfo entry{};
            const int found = ZELTO_SongGetMidiChannel(song, port, channel, &entry);
            const ZELTO_MidiChannelInfo *global = ZELTO_GetMidiChannel(port, channel);
            if (found != (global != nullptr ? 1 : 0) ||
                (global != nullptr && (entry.instrument != global->instrument || entry.volume != global->volume ||
                                       entry.tremolo != global->tremolo)))
                Fail(failure, "ZELTO_SongGetMidiChannel(" + std::to_string(port) + ", " + std::to_string(channel) +
                                  ") differs from the global song's");
        }
    }
    for (std::uint32_t measure = 0; measure <= info.measureCount; ++measure) {
        ZELTO_SongMeasure header{};
        const int found = ZELTO_SongGetMeasure(song, measure, &header);
        if (found != (measure < info.measureCount ? 1 : 0)) Fail(failure, At("ZELTO_SongGetMeasure", measure));
        if (!found) continue;
        const char *marker = ZELTO_GetMeasureMarkerText(measure);
        if (header.keyNumerator != ZELTO_GetMeasureKeyNumerator(measure) ||
            header.keyDenominator != ZELTO_GetMeasureKeyDenominator(measure) ||
            header.repeatCount != ZELTO_GetMeasureRepeatCount(measure) ||
            header.tonality != ZELTO_GetMeasureTonality(measure) ||
            header.markerColor != ZELTO_GetMeasureMarkerColor(measure) ||
            (header.markerText == nullptr) != (marker == nullptr) ||
            (marker != nullptr && std::strcmp(marker, header.markerText) != 0))
            Fail(failure, At("ZELTO_SongGetMeasure", measure) + " differs from the global queries");
    }
    for (std::uint32_t track = 0; track <= info.trackCount; ++track) {
        ZELTO_SongTrack record{};
        const int found = ZELTO_SongGetTrack(song, track, &record);
        if (found != (track < info.trackCount ? 1 : 0)) Fail(failure, At("ZELTO_SongGetTrack", track));
        if (!found) continue;
        bool same = record.name != nullptr && std::strcmp(record.name, ZELTO_GetTrackName(track)) == 0 &&
                    record.stringCount == ZELTO_GetTrackStringCount(track) &&
                    record.midiPort == ZELTO_GetTrackMidiPort(track) &&
                    record.midiChannel == ZELTO_GetTrackMidiChannel(track) &&
                    record.effectsMidiChannel == ZELTO_GetTrackEffectsMidiChannel(track) &&
                    record.fretCount == ZELTO_GetTrackFretCount(track) &&
                    record.capoHeight == ZELTO_GetTrackCapoHeight(track) && record.color == ZELTO_GetTrackColor(track);
        for (std::uint32_t string = 0; string < tuningCount; ++string)
            same = same && record.tunings[string] == ZELTO_GetTrackTuning(track, string);
        if (!same) Fail(failure, At("ZELTO_SongGetTrack", track) + " differs from the global queries");
    }
}

// One rendering of a song handle, its buffer copied and released.
Export RenderHandle(std::string &failure, ZELTO_Song *song, std::uint32_t rendering) {
    Export done;
    unsigned char *buffer = nullptr;
    std::uint32_t size = hostSizeSentinel;
    done.result = ZELTO_SongCreateMidiBuffer(song, rendering, &buffer, &size);
    if ((done.result == ZELTO_SONG_OK) != (buffer != nullptr) || (buffer == nullptr && size != 0))
        Fail(failure, "ZELTO_SongCreateMidiBuffer's result and buffer disagree");
    if (buffer != nullptr) done.bytes.assign(buffer, buffer + size);
    done.made = buffer != nullptr;
    ZELTO_DestroyMidiBuffer(buffer);
    return done;
}

// A budget of the file's own size gives the same file; one byte less is
// refused as passing the size, with nothing handed out.
void CheckSizeBudget(std::string &failure, ZELTO_Song *song, std::uint32_t rendering, const Export &whole) {
    if (!whole.made) return;
    const std::uint32_t fileSize = static_cast<std::uint32_t>(whole.bytes.size());
    for (std::uint32_t budget : {fileSize, fileSize - 1}) {
        unsigned char *buffer = nullptr;
        std::uint32_t size = hostSizeSentinel;
        std::uint32_t limit = hostSizeSentinel;
        const std::int32_t result = ZELTO_SongCreateMidiBufferWithin(song, rendering, budget, &buffer, &size, &limit);
        const bool fits = budget == fileSize;
        if (fits && (result != ZELTO_SONG_OK || buffer == nullptr || size != fileSize ||
                     std::memcmp(buffer, whole.bytes.data(), fileSize) != 0 || limit != ZELTO_SONG_LIMIT_NONE))
            Fail(failure, "a rendering within a budget of its own size differs");
        if (!fits && (result != ZELTO_SONG_TOO_LONG || buffer != nullptr || size != 0 || limit != ZELTO_SONG_LIMIT_SIZE))
            Fail(failure, "a rendering one byte over its budget was not refused");
        ZELTO_DestroyMidiBuffer(buffer);
    }
}

// Whether a MusicXML document is well formed: one root element, every
// element closed in order, attribute values quoted, text with no markup
// characters but entity references, and nothing but spaces after the root.
bool IsWellFormedXml(const unsigned char *bytes, std::uint32_t size) {
    std::vector<std::string> open;
    bool rootClosed = false;
    for (std::uint32_t at = 0; at < size;) {
        const unsigned char byte = bytes[at];
        if (byte == '&') {
            const std::uint32_t start = at;
            while (at < size && bytes[at] != ';' && at - start < 8) ++at;
            if (at == size || bytes[at] != ';') return false;
            ++at;
            continue;
        }
        if (byte != '<') {
            if (byte == '>' || (rootClosed && byte != '\n' && byte != ' ')) return false;
            ++at;
            continue;
        }
        const char *rest = reinterpret_cast<const char *>(bytes + at);
        const std::uint32_t left = size - at;
        const char *closing = static_cast<const char *>(std::memchr(rest, '>', left));
        if (closing == nullptr) return false;
        const std::uint32_t length = static_cast<std::uint32_t>(closing - rest) + 1;
        const std::string tag(rest, length);
        at += length;
        if (tag.compare(0, 2, "<?") == 0 || tag.compare(0, 2, "<!") == 0) {
            if (!open.empty() || rootClosed) return false;
            continue;
        }
        if (rootClosed) return false;
        std::size_t quotes = 0;
        for (char c : tag) quotes += c == '"';
        if (quotes % 2 != 0) return false;
        if (tag[1] == '/') {
            if (open.empty() || tag.substr(2, tag.size() - 3) != open.back()) return false;
            open.pop_back();
            rootClosed = open.empty();
            continue;
        }
        const std::size_t nameEnd = tag.find_first_of(" />", 1);
        const std::string name = tag.substr(1, nameEnd - 1);
        if (name.empty()) return false;
        if (tag[tag.size() - 2] == '/') {
            rootClosed = open.empty();
            continue;
        }
        open.push_back(name);
    }
    return open.empty() && rootClosed;
}

// The MusicXML export of a song that opened: well formed, and the same bytes twice.
void CheckMusicXml(std::string &failure, const ZELTO_Song *song) {
    unsigned char *first = nullptr, *second = nullptr;
    std::uint32_t firstSize = 0, secondSize = 0;
    const std::int32_t result = ZELTO_SongCreateMusicXml(song, &first, &firstSize);
    if (result == ZELTO_SONG_OK && (first == nullptr || !IsWellFormedXml(first, firstSize)))
        Fail(failure, "ZELTO_SongCreateMusicXml wrote a document that is not well formed");
    if (result != ZELTO_SONG_OK && result != ZELTO_SONG_OUT_OF_MEMORY && result != ZELTO_SONG_TOO_LONG)
        Fail(failure, "ZELTO_SongCreateMusicXml refused a song that opened");
    if (result == ZELTO_SONG_OK && ZELTO_SongCreateMusicXml(song, &second, &secondSize) == ZELTO_SONG_OK &&
        (secondSize != firstSize || std::memcmp(first, second, firstSize) != 0))
        Fail(failure, "ZELTO_SongCreateMusicXml gave other bytes the second time");
    ZELTO_DestroyMidiBuffer(first);
    ZELTO_DestroyMidiBuffer(second);
}

// The same input through a song handle: it opens exactly when the global
// load accepted it, and then every record agrees with the global queries,
// every track's beats and notes, every block and every curve read back with
// the counts the beats announce, and the renderings the fuzz limits allow are
// made (and, by the input's length, one of them under a budget) for
// comparison with the global exports.
void CheckSongHandle(std::string &failure, const std::string &path, bool loaded, bool plainExportable,
                     bool performedExportable, std::size_t inputSize, HandleRenderings &rendered) {
    for (std::int32_t code = -1; code <= ZELTO_SONG_EMPTY + 1; ++code)
        if (ZELTO_SongResultText(code) == nullptr) Fail(failure, "ZELTO_SongResultText gave null");
    ZELTO_Song *song = nullptr;
    const std::int32_t result = ZELTO_SongOpen(path.c_str(), &song);
    if ((result == ZELTO_SONG_OK) != loaded) Fail(failure, "ZELTO_SongOpen and ZELTO_Load disagree");
    if (result != ZELTO_SONG_OK) {
        if (song != nullptr) Fail(failure, "a failed ZELTO_SongOpen handed out a song");
        return;
    }
    ZELTO_SongInfo info{};
    ZELTO_SongGetInfo(song, &info);
    CheckSongHandleRecords(failure, song, info);
    CheckMusicXml(failure, song);
    if (plainExportable) {
        rendered.plain = RenderHandle(failure, song, ZELTO_SONG_MIDI_PLAIN);
        rendered.plainRan = true;
        if (inputSize % 2 == 0) CheckSizeBudget(failure, song, ZELTO_SONG_MIDI_PLAIN, rendered.plain);
    }
    if (performedExportable) {
        rendered.performed = RenderHandle(failure, song, ZELTO_SONG_MIDI_PERFORMED);
        rendered.performedRan = true;
        if (inputSize % 2 == 1) CheckSizeBudget(failure, song, ZELTO_SONG_MIDI_PERFORMED, rendered.performed);
    }
    for (std::uint32_t track = 0; track < info.trackCount; ++track) {
        std::uint32_t beatCount = 0, noteCount = 0;
        ZELTO_SongGetBeats(song, track, 0, info.measureCount, nullptr, 0, &beatCount, nullptr, 0, &noteCount, nullptr);
        std::vector<ZELTO_SongBeat> beats(beatCount);
        std::vector<ZELTO_SongNote> notes(noteCount);
        std::vector<std::uint32_t> starts(info.measureCount + 1);
        if (!ZELTO_SongGetBeats(song, track, 0, info.measureCount, beats.data(), beatCount, &beatCount, notes.data(),
                                noteCount, &noteCount, starts.data())) {
            Fail(failure, "ZELTO_SongGetBeats refused arrays of the sizes it asked for");
            break;
        }
        for (std::uint32_t measure = 0; measure < info.measureCount; ++measure) {
            for (std::uint32_t beat = starts[measure]; beat < starts[measure + 1]; ++beat) {
                const std::uint32_t index = beat - starts[measure];
                ZELTO_SongBend curve{};
                ZELTO_SongBendPoint points[4];
                ZELTO_SongBeatEffect effect{};
                ZELTO_SongMixTableChange mix{};
                ZELTO_SongChordDiagram chord{};
                ZELTO_SongGetBeatText(song, measure, track, index);
                ZELTO_SongGetBeatEffect(song, measure, track, index, &effect);
                ZELTO_SongGetMixTableChange(song, measure, track, index, &mix);
                if (ZELTO_SongGetChordDiagram(song, measure, track, index, &chord) && chord.name == nullptr)
                    Fail(failure, "a chord diagram without a name");
                ZELTO_SongGetTremoloBar(song, measure, track, index, &curve, points, 4);
                for (std::uint32_t string = 0; string <= 8; ++string)
                    ZELTO_SongGetBend(song, measure, track, index, string, &curve, points, 4);
                const ZELTO_SongBeat &read = beats[beat];
                if (read.measure != measure || read.firstNote + read.noteCount > noteCount)
                    Fail(failure, "a beat names notes outside the array");
            }
        }
    }
    ZELTO_SongClose(song);
}

}  // namespace

Outcome CheckSongBytes(const std::uint8_t *data, std::size_t size, const Limits &limits) {
    Outcome outcome;
    if (size > limits.largestInput) {
        outcome.skipped = true;
        return outcome;
    }
    std::string &failure = outcome.failure;
    const KnownGoodSong &knownGood = TheKnownGoodSong();
    if (ZELTO_GetTitle() != nullptr) ZELTO_Unload();  // a caller's song left over: start clean
    ZELTO_Init();  // as a host starts; with no song loaded it holds nothing
    CheckNoSong(failure, "before the load");

    const std::string &path = WriteInput(data, size);
    const int loaded = ZELTO_Load(path.c_str());
    if (loaded != 0 && loaded != 1) Fail(failure, "ZELTO_Load returned " + std::to_string(loaded));
    outcome.loaded = loaded == 1;
    const bool plainExportable = outcome.loaded && IsExportWithinLimits(limits);
    const bool performedExportable = plainExportable && IsPerformedWithinLimits(limits);
    HandleRenderings rendered;
    CheckSongHandle(failure, path, outcome.loaded, plainExportable, performedExportable, size, rendered);

    if (!outcome.loaded) {
        CheckNoSong(failure, "after a failed load");
    } else {
        const char *title = ZELTO_GetTitle();
        if (ZELTO_Load(knownGood.path.c_str()) != 0) Fail(failure, "a second ZELTO_Load while loaded succeeded");
        if (ZELTO_GetTitle() != title) Fail(failure, "a second ZELTO_Load changed the loaded song");
        CheckLoadedSong(failure);
        const std::string before = SongText::Describe(*Talvoren::theFileStruct);
        if (plainExportable) {
            CheckExports(failure, outcome, performedExportable, rendered);
            CheckLoadedSong(failure);
            if (SongText::Describe(*Talvoren::theFileStruct) != before) Fail(failure, "the export changed the song");
        }
        // Both releases, by the input's length, so that each is used.
        if (size % 2 == 0) ZELTO_Unload(); else ZELTO_Free();
        CheckNoSong(failure, "after the release");
        ZELTO_Unload();
        ZELTO_Free();
    }

    if (ZELTO_Load(knownGood.path.c_str()) != 1) {
        Fail(failure, "the known good song does not load afterwards");
    } else {
        const char *title = ZELTO_GetTitle();
        if (title == nullptr || knownGood.title != title || ZELTO_GetMeasureCount() != knownGood.measureCount ||
            ZELTO_GetTrackCount() != knownGood.trackCount)
            Fail(failure, "the known good song loads wrongly afterwards");
        ZELTO_Unload();
    }
    return outcome;
}

}  // namespace fuzzcheck
