// Statements and literals as the Windows compiler reads them, rewritten into
// forms glslang 12 takes.
#pragma once

#include "platform/gl/hlsl/lexer.h"

#include <string>

// Rewrites:
// - integer literals with a long suffix (3l, 3L, 3lu, 3ul) as ints and
//   uints, which they are on Windows (function-overload.shader_test);
// - -true and -false as -1 and -0: the bool is an int there
//   (max-min.shader_test);
// - a floating-point case label as the integer the switch compares with;
// - export before a function, which a 4_0 compile ignores, as blanks;
// - printf and errorf statements as nothing, as outside a debugging tool;
// - a for loop's declaration before the loop where the source reads the
//   variable after it;
// - [unroll(N)] on a for loop as at most N iterations, which is what the
//   Windows compiler runs of it (unroll.shader_test): a counter is declared
//   with the loop's own variables, or before the loop where that starts a
//   statement, and joins its condition and step.
// - a [numthreads] attribute without arguments before a declaration, which
//   no 4_0 stage uses and the Windows compiler takes
//   (attributes.shader_test), and glslang crashes on;
// Every line stays where it was; lexed is lexed again when the text changes.
void RewriteStatementForms(std::string &text, LexedHlsl &lexed);

// Removes "namespace N { ... }" around declarations and the "N::" before the
// names they declare: glslang has no namespaces, the Windows compiler does.
// Run before the effect rules, which would read the braces as a state block.
void RemoveNamespaces(std::string &text, LexedHlsl &lexed);

// An array of samplers at file scope, each element read at a literal index
// (as the 4_0 profiles require), as one sampler per element at consecutive
// registers: the GLSL the layer writes has no arrays of separate samplers.
// Other arrays of samplers stay as they are.
void SplitSamplerArrays(std::string &text, LexedHlsl &lexed);
