// How this backend hands HLSL to glslang's parser (glslang_parse.h).
#include "platform/gl/hlsl/glslang_parse.h"

void SetUpShader(glslang::TShader &shader, const char *const &text, const int &length,
                 const char *const &fileName, const char *entryPoint, EShLanguage language) {
    shader.setStringsWithLengthsAndNames(&text, &length, &fileName, 1);
    shader.setEntryPoint(entryPoint);
    shader.setSourceEntryPoint(entryPoint);
    // HLSL is parsed for the Vulkan client, the well-trodden path; the GLSL
    // written from the SPIR-V later targets OpenGL either way.
    shader.setEnvInput(glslang::EShSourceHlsl, language, glslang::EShClientVulkan, 100);
    shader.setEnvClient(glslang::EShClientVulkan, glslang::EShTargetVulkan_1_0);
    shader.setEnvTarget(glslang::EShTargetSpv, glslang::EShTargetSpv_1_0);
    shader.setEnvTargetHlslFunctionality1(); // semantics survive as decorations
    shader.setDxPositionW(true);             // SV_Position.w in the pixel stage as on Windows
    shader.setAutoMapBindings(true);         // a cbuffer without register(bN) takes a free slot
}

bool NamesFunction(const std::string &source, const Tokens &tokens, const std::string &name) {
    for (size_t i = 0; i + 1 < tokens.size(); ++i)
        if (tokens[i].kind == TokenKind::Identifier && Is(source, tokens[i], name) &&
            IsMark(source, tokens[i + 1], '('))
            return true;
    return false;
}
