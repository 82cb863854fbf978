// The sample bank compiles as one unit into each binary that links it.
#include "samplebank/Bank.cpp"
