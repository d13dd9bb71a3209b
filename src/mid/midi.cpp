// midi.cpp - placeholder MIDI file builder.
#include "mid/midi.h"
