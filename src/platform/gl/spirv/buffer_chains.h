// Access chains into constant buffers, as the flat registers need them.
#pragma once

#include <cstdint>
#include <vector>

// Where a constant buffer is written as flat vec4 registers
// (glsl/translate.cpp), SPIRV-Cross works each access chain into it out as
// one register read, and refuses a chain that stops at an array on the way
// to its element ("int2x2 m; ... m[1][0]", which glslang holds as an array
// of columns, reached through a chain to the array and a second chain from
// it). Each chain that starts from another chain into a buffer becomes one
// chain from the buffer, and a chain then read by nothing goes. Runs on the
// optimized words, which may chain again what the earlier passes joined;
// leaves words with no such chain as they are.
void JoinBufferChains(std::vector<uint32_t> &spirv);
