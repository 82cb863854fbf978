// The engine's array functions, a unit of their own: they choose their instructions themselves, and
// may fuse a multiply and an add, which only makes their results closer to the exact ones.
#include "engine/FastMath.cpp"
