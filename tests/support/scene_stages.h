// The three stages a scene load compiles from main.fx, with the entry points
// and profiles it asks for: the tests that compile a file as a load would.
#pragma once

#include <glslang/Public/ShaderLang.h>

struct SceneStage {
    const char *entry, *profile;
    EShLanguage language;
};

inline constexpr SceneStage kSceneStages[] = {{"vs_main", "vs_4_0", EShLangVertex},
                                              {"gs_main", "gs_4_0", EShLangGeometry},
                                              {"ps_main", "ps_4_0", EShLangFragment}};
