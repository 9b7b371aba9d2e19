// What a shader-model-4 profile (vs_4_0, gs_4_0, ps_4_0) refuses and
// glslang's HLSL front end accepts: the later models' intrinsics, resources,
// types, attributes and system values, and the stage's required forms and
// limits. The Windows compiler judges what the stage uses, so a function the
// entry point never reaches does not count, and neither does a resource only
// such a function reads.
#pragma once

#include "platform/gl/common/diagnostics.h"
#include "platform/gl/hlsl/source_files.h"

#include <string>

namespace glslang {
class TIntermediate;
}

// Checks the stage glslang parsed for entryPoint against profile ("ps_4_0";
// the model is read from its digits). source is fileName's text and
// included the text of the files it includes, as the preprocessor read
// them, where a name gives a problem its column. tree is null when the
// parse failed; then only what glslang cannot parse for a reason of the
// profile (an interface) is looked for in source. Records an error per
// problem in diagnostics and returns false when there was any.
bool CheckProfile(const std::string &source, const char *fileName, const IncludedFiles &included,
                  glslang::TIntermediate *tree, const char *entryPoint, const char *profile,
                  Diagnostics &diagnostics);
