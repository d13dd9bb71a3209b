// export.cpp - placeholder definitions of the MIDI export; each returns 0.
#include "zelto.h"

namespace {
template <class Result> Result Nothing() { return Result(); }
}  // namespace

#define ZELTO_DEFINE_Lifecycle(result, name, parameters)
#define ZELTO_DEFINE_Query(result, name, parameters)
#define ZELTO_DEFINE_Midi(result, name, parameters) \
    ZELTO_API result ZELTO_CALL name parameters { return Nothing<result>(); }
#define ZELTO_EXPORT(group, result, name, parameters, argumentBytes) \
    ZELTO_DEFINE_##group(result, name, parameters)

extern "C" {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include "zelto_exports.h"
#pragma GCC diagnostic pop
}
