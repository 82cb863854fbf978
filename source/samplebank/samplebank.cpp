// The sample bank compiles as one unit into each binary that links it.
#include "samplebank/WavDecoder.cpp"
#include "samplebank/SampleArena.cpp"
#include "samplebank/SampleZone.cpp"
#include "samplebank/EmbeddedBank.cpp"
#include "samplebank/SharedBank.cpp"
