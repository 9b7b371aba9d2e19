// Reading HLSL source files: the file named in the compile and the files it
// includes, and glslang's preprocessor run over them.
#pragma once

#include "platform/gl/common/diagnostics.h"
#include "platform/platform.h"

#include <glslang/Public/ShaderLang.h>

#include <map>
#include <string>

// Reads the whole file, refusing what cannot be a shader file (a folder, a
// FIFO, anything past 16 MB). On failure returns the HRESULT Windows gives
// and, where Windows would say more than "not found", an error about the
// file as a whole in diagnostics.
HRESULT ReadSource(const char *path, std::string &source, Diagnostics &diagnostics);

// The text of each file the source included, by the name glslang gives it
// in its locations and messages ("shaders/common.fxh"): read once, by
// ReadSource's rules, for whatever needs it after the preprocessor.
typedef std::map<std::string, std::string> IncludedFiles;

// Runs glslang's preprocessor over source, which was read from fileName.
// `#include "name"` and `#include <name>` are looked up in the including
// file's folder, then in the working directory, as the Windows compilers'
// standard include handler does; a name may use '\' as on Windows. The
// output keeps the source's line numbers through #line directives naming
// each file; included holds the included files' text. Returns false with
// the preprocessor's messages in diagnostics.
bool PreprocessHlsl(const std::string &source, const char *fileName, EShLanguage language,
                    EShMessages messages, std::string &output, IncludedFiles &included,
                    Diagnostics &diagnostics);
