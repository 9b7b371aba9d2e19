#ifndef MATH_FXH
#define MATH_FXH
#include "particle.fxh"
// The corners of a quad in strip order.
float2 Corner(uint i) { return float2(i & 1, i >> 1); }
#endif
