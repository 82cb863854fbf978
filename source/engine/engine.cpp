// The engine compiles as one unit into each binary that links it, without fused multiply-adds (see
// CMakeLists.txt); its array functions compile apart, in engine_FastMath.cpp.
#include "engine/Tuning.cpp"
#include "engine/TuningHandover.cpp"
#include "engine/StereoReverb.cpp"
#include "engine/Drone.cpp"
#include "engine/OutputStage.cpp"
#include "engine/SoundEngine.cpp"
