// queries.cpp - the 42 exported song queries: each reads one field of the
// loaded song, after checking that a song is loaded and that its indexes lie
// within the counts the song stores; otherwise it answers 0 or null.
#include <cstddef>
#include <cstdint>

#include "zelto.h"
#include "zelto/global.h"

namespace Talvoren {
namespace {

// The host sees the song's channel entries through the public type.
static_assert(sizeof(ZELTO_MidiChannelInfo) == sizeof(MidiChannelInfo), "channel entry size");
static_assert(offsetof(ZELTO_MidiChannelInfo, instrument) == offsetof(MidiChannelInfo, instrument), "instrument");
static_assert(offsetof(ZELTO_MidiChannelInfo, volume) == offsetof(MidiChannelInfo, volume), "volume");
static_assert(offsetof(ZELTO_MidiChannelInfo, balance) == offsetof(MidiChannelInfo, balance), "balance");
static_assert(offsetof(ZELTO_MidiChannelInfo, chorus) == offsetof(MidiChannelInfo, chorus), "chorus");
static_assert(offsetof(ZELTO_MidiChannelInfo, reverb) == offsetof(MidiChannelInfo, reverb), "reverb");
static_assert(offsetof(ZELTO_MidiChannelInfo, phaser) == offsetof(MidiChannelInfo, phaser), "phaser");
static_assert(offsetof(ZELTO_MidiChannelInfo, tremolo) == offsetof(MidiChannelInfo, tremolo), "tremolo");
static_assert(offsetof(ZELTO_MidiChannelInfo, filler) == offsetof(MidiChannelInfo, filler), "filler");

// Every query is one of three shapes: a field of the song itself, of the
// measure header with a given index, or of the track with a given index.
// The lookups below do the guard and the bound check; the result is the
// field widened to the query's type (signed fields with their sign,
// unsigned ones without).

const Measure *MeasureAt(std::uint32_t measure) {
    if (theFileStruct == nullptr || theFileStruct->body.measures == nullptr) return nullptr;
    if (measure >= theFileStruct->headers.pieceInfo.measureCount) return nullptr;
    return &theFileStruct->body.measures[measure];
}

const Track *TrackAt(std::uint32_t track) {
    if (theFileStruct == nullptr || theFileStruct->body.tracks == nullptr) return nullptr;
    if (track >= theFileStruct->headers.pieceInfo.trackCount) return nullptr;
    return &theFileStruct->body.tracks[track];
}

const MeasureMarker *MarkerAt(std::uint32_t measure) {
    const Measure *header = MeasureAt(measure);
    return header != nullptr ? header->marker : nullptr;
}

template <typename Result, typename Field>
Result FromTabInfo(Field TabInfo::*field) {
    if (theFileStruct == nullptr) return Result();
    return static_cast<Result>(theFileStruct->headers.tabInfo.*field);
}

// The piece information is packed, so its fields are read by value through
// a reader function rather than through member pointers.
template <typename Result, typename Read>
Result FromPieceInfo(Read read) {
    if (theFileStruct == nullptr) return Result();
    return static_cast<Result>(read(theFileStruct->headers.pieceInfo));
}

template <typename Result, typename Field>
Result FromMeasure(std::uint32_t measure, Field Measure::*field) {
    const Measure *header = MeasureAt(measure);
    return header != nullptr ? static_cast<Result>(header->*field) : Result();
}

template <typename Result, typename Field>
Result FromMarker(std::uint32_t measure, Field MeasureMarker::*field) {
    const MeasureMarker *marker = MarkerAt(measure);
    return marker != nullptr ? static_cast<Result>(marker->*field) : Result();
}

template <typename Result, typename Field>
Result FromTrack(std::uint32_t track, Field Track::*field) {
    const Track *record = TrackAt(track);
    return record != nullptr ? static_cast<Result>(record->*field) : Result();
}

int IsMeasureFlagSet(std::uint32_t measure, std::uint8_t flag) {
    const Measure *header = MeasureAt(measure);
    return header != nullptr && (header->flags & flag) != 0 ? 1 : 0;
}

}  // namespace
}  // namespace Talvoren

using namespace Talvoren;

extern "C" {

// Song information and lyrics.

ZELTO_API const char *ZELTO_CALL ZELTO_GetTitle(void) { return FromTabInfo<const char *>(&TabInfo::title); }
ZELTO_API const char *ZELTO_CALL ZELTO_GetSubtitle(void) { return FromTabInfo<const char *>(&TabInfo::subtitle); }
ZELTO_API const char *ZELTO_CALL ZELTO_GetInterpret(void) { return FromTabInfo<const char *>(&TabInfo::interpret); }
ZELTO_API const char *ZELTO_CALL ZELTO_GetAlbum(void) { return FromTabInfo<const char *>(&TabInfo::album); }
ZELTO_API const char *ZELTO_CALL ZELTO_GetAuthor(void) { return FromTabInfo<const char *>(&TabInfo::author); }
ZELTO_API const char *ZELTO_CALL ZELTO_GetCopyright(void) { return FromTabInfo<const char *>(&TabInfo::copyright); }
ZELTO_API const char *ZELTO_CALL ZELTO_GetTabAuthor(void) { return FromTabInfo<const char *>(&TabInfo::tabAuthor); }
ZELTO_API const char *ZELTO_CALL ZELTO_GetInstructions(void) {
    return FromTabInfo<const char *>(&TabInfo::instructions);
}
ZELTO_API uint32_t ZELTO_CALL ZELTO_GetNoticeLineCount(void) {
    return FromTabInfo<uint32_t>(&TabInfo::noticeLineCount);
}
ZELTO_API const char *ZELTO_CALL ZELTO_GetNoticeLine(uint32_t line) {
    if (theFileStruct == nullptr) return nullptr;
    const TabInfo &info = theFileStruct->headers.tabInfo;
    if (info.noticeLines == nullptr || line >= info.noticeLineCount) return nullptr;
    return info.noticeLines[line];
}
ZELTO_API uint32_t ZELTO_CALL ZELTO_IsTripletFeelEnabled(void) {
    return FromTabInfo<uint32_t>(&TabInfo::tripletFeel);
}
ZELTO_API int32_t ZELTO_CALL ZELTO_GetLyricsTrack(void) {
    return theFileStruct != nullptr ? theFileStruct->headers.lyricsInfo.lyricsTrack : 0;
}
ZELTO_API const char *ZELTO_CALL ZELTO_GetLyricsLine(uint32_t line) {
    if (theFileStruct == nullptr || line >= lyricsLineCount) return nullptr;
    return theFileStruct->headers.lyricsInfo.lyricsLines[line];
}

// Piece information and the MIDI channel table.

ZELTO_API uint32_t ZELTO_CALL ZELTO_GetTempo(void) {
    return FromPieceInfo<uint32_t>([](const GPPieceInfo &piece) { return piece.tempo; });
}
ZELTO_API int32_t ZELTO_CALL ZELTO_GetKey(void) {
    return FromPieceInfo<int32_t>([](const GPPieceInfo &piece) { return piece.key; });
}
ZELTO_API int32_t ZELTO_CALL ZELTO_GetOctave(void) {
    return FromPieceInfo<int32_t>([](const GPPieceInfo &piece) { return piece.octave; });
}
ZELTO_API const ZELTO_MidiChannelInfo *ZELTO_CALL ZELTO_GetMidiChannel(uint32_t port, uint32_t channel) {
    if (theFileStruct == nullptr || port >= midiPortCount || channel >= midiChannelCount) return nullptr;
    const MidiChannelInfo *entry = &theFileStruct->headers.pieceInfo.midiChannels[port][channel];
    return reinterpret_cast<const ZELTO_MidiChannelInfo *>(entry);
}

// Measure headers.

ZELTO_API uint32_t ZELTO_CALL ZELTO_GetMeasureCount(void) {
    return FromPieceInfo<uint32_t>([](const GPPieceInfo &piece) { return piece.measureCount; });
}
ZELTO_API int ZELTO_CALL ZELTO_IsMeasureKeyNumeratorPresent(uint32_t measure) {
    return IsMeasureFlagSet(measure, MeasureHasNumerator);
}
ZELTO_API int ZELTO_CALL ZELTO_IsMeasureKeyDenominatorPresent(uint32_t measure) {
    return IsMeasureFlagSet(measure, MeasureHasDenominator);
}
ZELTO_API int ZELTO_CALL ZELTO_IsMeasureBeginRepeatPresent(uint32_t measure) {
    return IsMeasureFlagSet(measure, MeasureBeginRepeat);
}
ZELTO_API int ZELTO_CALL ZELTO_IsMeasureEndRepeatPresent(uint32_t measure) {
    return IsMeasureFlagSet(measure, MeasureEndRepeat);
}
ZELTO_API int ZELTO_CALL ZELTO_IsMeasureMarkerPresent(uint32_t measure) {
    return IsMeasureFlagSet(measure, MeasureHasMarker);
}
ZELTO_API int ZELTO_CALL ZELTO_IsMeasureTonalityPresent(uint32_t measure) {
    return IsMeasureFlagSet(measure, MeasureHasTonality);
}
ZELTO_API int ZELTO_CALL ZELTO_IsMeasureDoubleBarPresent(uint32_t measure) {
    return IsMeasureFlagSet(measure, MeasureDoubleBar);
}
ZELTO_API uint32_t ZELTO_CALL ZELTO_GetMeasureKeyNumerator(uint32_t measure) {
    return FromMeasure<uint32_t>(measure, &Measure::keyNumerator);
}
ZELTO_API uint32_t ZELTO_CALL ZELTO_GetMeasureKeyDenominator(uint32_t measure) {
    return FromMeasure<uint32_t>(measure, &Measure::keyDenominator);
}
ZELTO_API uint32_t ZELTO_CALL ZELTO_GetMeasureRepeatCount(uint32_t measure) {
    return FromMeasure<uint32_t>(measure, &Measure::repeatCount);
}
ZELTO_API uint32_t ZELTO_CALL ZELTO_GetMeasureAltEndingCount(uint32_t measure) {
    return FromMeasure<uint32_t>(measure, &Measure::altEndingCount);
}
ZELTO_API const char *ZELTO_CALL ZELTO_GetMeasureMarkerText(uint32_t measure) {
    return FromMarker<const char *>(measure, &MeasureMarker::text);
}
ZELTO_API uint32_t ZELTO_CALL ZELTO_GetMeasureMarkerColor(uint32_t measure) {
    return FromMarker<uint32_t>(measure, &MeasureMarker::color);
}
ZELTO_API int32_t ZELTO_CALL ZELTO_GetMeasureTonality(uint32_t measure) {
    return FromMeasure<int32_t>(measure, &Measure::tonality);
}

// Tracks.

ZELTO_API uint32_t ZELTO_CALL ZELTO_GetTrackCount(void) {
    return FromPieceInfo<uint32_t>([](const GPPieceInfo &piece) { return piece.trackCount; });
}
ZELTO_API const char *ZELTO_CALL ZELTO_GetTrackName(uint32_t track) {
    return FromTrack<const char *>(track, &Track::name);
}
ZELTO_API uint32_t ZELTO_CALL ZELTO_GetTrackStringCount(uint32_t track) {
    return FromTrack<uint32_t>(track, &Track::stringCount);
}
ZELTO_API int32_t ZELTO_CALL ZELTO_GetTrackTuning(uint32_t track, uint32_t string) {
    const Track *record = TrackAt(track);
    return record != nullptr && string < tuningCount ? record->tunings[string] : 0;
}
ZELTO_API uint32_t ZELTO_CALL ZELTO_GetTrackMidiPort(uint32_t track) {
    return FromTrack<uint32_t>(track, &Track::midiPort);
}
ZELTO_API uint32_t ZELTO_CALL ZELTO_GetTrackMidiChannel(uint32_t track) {
    return FromTrack<uint32_t>(track, &Track::midiChannel);
}
ZELTO_API uint32_t ZELTO_CALL ZELTO_GetTrackEffectsMidiChannel(uint32_t track) {
    return FromTrack<uint32_t>(track, &Track::effectsMidiChannel);
}
ZELTO_API uint32_t ZELTO_CALL ZELTO_GetTrackFretCount(uint32_t track) {
    return FromTrack<uint32_t>(track, &Track::fretCount);
}
ZELTO_API uint32_t ZELTO_CALL ZELTO_GetTrackCapoHeight(uint32_t track) {
    return FromTrack<uint32_t>(track, &Track::capoHeight);
}
ZELTO_API uint32_t ZELTO_CALL ZELTO_GetTrackColor(uint32_t track) { return FromTrack<uint32_t>(track, &Track::color); }

}  // extern "C"
