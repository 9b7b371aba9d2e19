// Static textures and samplers the file reads without giving them one of
// its resources.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Whether the optimized words read a static texture or sampler that nothing
// gives a value: a private variable of an object type that is loaded and
// never stored, or an undefined object the optimizer left in its place.
// The Windows compiler refuses such a read where it reaches the output
// ("static Texture2D tex; ... tex.Sample(...)", static-initializer.shader_test;
// a local one, object-references.shader_test) and accepts one the optimizer drops (an unused
// result, a branch never taken), as the optimized words have none. name is the variable's, where
// the words keep it.
bool ReadsEmptyStaticObject(const std::vector<uint32_t> &words, std::string &name);
