// The compile of one entry point, HLSL text to SPIR-V, as a table of named
// stages (stages.cpp): the text passes, glslang's parse and link, the SPIR-V
// passes and glslang's optimizer, in the order they run.
#pragma once

#include "platform/gl/common/diagnostics.h"
#include "platform/gl/hlsl/source_files.h"

#include <glslang/Public/ShaderLang.h>

#include <cstdint>
#include <string>
#include <vector>

// Compiles original, the text of fileName, for entryPoint and profile.
// Returns false with the errors in diagnostics; on success spirv holds the
// module, packedRegisters the cbuffers laid out with packoffset (bit N for
// bN), and diagnostics any warnings. included gets the text of each file
// the source included, whatever the outcome.
bool CompileHlsl(const std::string &original, const char *fileName, const char *entryPoint,
                 const char *profile, EShLanguage language, std::vector<unsigned> &spirv,
                 uint32_t &packedRegisters, Diagnostics &diagnostics, IncludedFiles &included);

// The text stages alone, the rewrites and checks before glslang's parse, on
// original: false with the errors in diagnostics where one refused it; text
// gets what they leave. glslang's preprocessor runs, its parser does not, so
// a fault found here is the text passes' own.
bool CheckHlslText(const std::string &original, const char *fileName, const char *entryPoint,
                   const char *profile, EShLanguage language, Diagnostics &diagnostics,
                   std::string &text);
