// The engine compiles as one unit into each binary that links it.
#include "engine/FastMath.cpp"
#include "engine/Tuning.cpp"
#include "engine/TuningHandover.cpp"
#include "engine/StereoReverb.cpp"
#include "engine/Drone.cpp"
#include "engine/OutputStage.cpp"
#include "engine/SoundEngine.cpp"
