#pragma once

#include "samplebank/SampleZone.h"

#include <cstddef>

// Decodes a WAV held in memory into `zone` (the average of its channels). A 16-bit mono file, the
// kind the bank ships, is converted straight into `room` when that holds `roomFloats` floats or
// more, and the zone then refers to it; `data` may lie inside the back of the room itself. Anything
// else gets a buffer of the zone's own. On any failure, including a file without frames or one cut
// short inside its audio, the zone is left untouched.
void loadSample (SampleZone& zone, const void* data, int size, int root, float* room = nullptr, size_t roomFloats = 0);
