// What a shader-model-4 profile (vs_4_0, gs_4_0, ps_4_0) refuses and
// glslang's HLSL front end accepts: the later models' intrinsics, resources,
// types, attributes and system values, and the stage's required forms and
// limits. The Windows compiler judges what the stage uses, so a function the
// entry point never reaches does not count, and neither does a resource only
// such a function reads.
#pragma once

#include <string>

namespace glslang {
class TIntermediate;
}

// Checks the stage glslang parsed for entryPoint against profile ("ps_4_0";
// the model is read from its digits). tree is null when the parse failed;
// then only what glslang cannot parse for a reason of the profile (an
// interface) is looked for in source. Appends one line per problem to log,
// "file(line,column): error: ...", and returns false when there was any.
bool CheckProfile(const std::string &source, const char *fileName, glslang::TIntermediate *tree,
                  const char *entryPoint, const char *profile, std::string &log);
