// Rewrites of preprocessed HLSL text for arithmetic that glslang's front end
// works out by its own rules before any SPIR-V exists: it folds operations
// on literals with C's and GLSL's rules (fmod(-3.5, 2) gives 0.5, (int)3e9
// gives -2^31) and expands lit() with a product where a power belongs.
// Like the rewrites of entry_rewrites.h they keep every line where it was,
// and read the text through lexed, its tokens (LexHlsl).
#pragma once

#include "platform/gl/hlsl/lexer.h"

#include <string>

// Makes the literals of executable code values known only at run time, so
// that every operation on them reaches SPIR-V, where the arithmetic rewrites
// (spirv/arithmetic.h) give it Direct3D's rules and glslang's optimizer then
// works the result out. A literal stays a literal where HLSL needs a
// constant: array sizes and indices, attributes, template arguments, case
// labels, method arguments (texture offsets), initializer lists, and the
// initializers of constants used in any of these. Global initializers of
// static variables count as executable code; other global ones do not.
// The last pass: lexed is not brought up to date with the text it leaves.
void ReadLiteralsAtRunTime(std::string &text, const LexedHlsl &lexed);

// Replaces calls of lit() with a function that computes what Direct3D's lit
// does, unless the file defines a function of that name itself; lexed is
// then lexed again.
void ReplaceLit(std::string &text, LexedHlsl &lexed);
