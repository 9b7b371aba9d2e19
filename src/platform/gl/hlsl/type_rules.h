// What the Windows compiler (the 4_0 profiles) refuses for the types and
// values of expressions, where glslang converts or computes on: integer
// division or remainder by a zero it knows at compile time, asint() and
// asuint() of a bool or double, a shift or other bitwise operator of a
// floating-point value, and a numeric constructor in an attribute that its
// literals do not fill. The record is
// vkd3d's tests under ../shared/vkd3d-tests/hlsl, which run on Windows.
#pragma once

struct Diagnostics;
struct HlslModel;
namespace glslang {
class TIntermediate;
}

// Checks the model of the source, for the types as written, and the parsed
// tree, which must be whole, for the values glslang folds; reports each
// refusal into out.
void CheckTypeRules(const HlslModel &model, const char *fileName,
                    const glslang::TIntermediate &tree, Diagnostics &out);
