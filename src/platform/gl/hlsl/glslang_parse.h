// How this backend hands HLSL to glslang's parser: the messages it asks
// for and the set-up of every parse, shared by the compile and by the guards
// that parse the source before it (crash_guards.h), so both read it alike.
#pragma once

#include "platform/gl/hlsl/lexer.h"

#include <glslang/Public/ShaderLang.h>

#include <string>
#include <vector>

const EShMessages kMessages =
    static_cast<EShMessages>(EShMsgSpvRules | EShMsgVulkanRules | EShMsgReadHlsl);

// glslang keeps the addresses of text, length and fileName, not copies:
// they must outlive the parse.
void SetUpShader(glslang::TShader &shader, const char *const &text, const int &length,
                 const char *const &fileName, const char *entryPoint, EShLanguage language);

// Whether name appears in the source (with its tokens, LexHlsl) as an
// identifier followed by "(".
bool NamesFunction(const std::string &source, const Tokens &tokens, const std::string &name);
