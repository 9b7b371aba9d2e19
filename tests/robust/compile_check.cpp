// Compiles one file in-process, for the three stages a scene load compiles:
// first the text passes alone (no glslang parse), then, where they pass, the
// whole compile with the SPIR-V passes. Prints how each ended. The
// regression set runs each of its inputs through this in a process of its
// own, under the sanitizers: a fault of ours aborts it, and a fault in one
// input cannot hide the next. Its inputs are ones glslang itself survives.
#include "platform/gl/compiler/stages.h"
#include "../support/scene_stages.h"

#include <cstdio>
#include <fstream>
#include <sstream>

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: hotfx_compile_check FILE\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 2;
    }
    std::stringstream bytes;
    bytes << in.rdbuf();
    const std::string original = bytes.str();
    for (const auto &stage : kSceneStages) {
        Diagnostics diagnostics;
        std::string text;
        const bool ok = CheckHlslText(original, argv[1], stage.entry, stage.profile, stage.language,
                                      diagnostics, text);
        bool compiled = false;
        if (ok) {
            Diagnostics more;
            std::vector<unsigned> spirv;
            uint32_t packed = 0;
            IncludedFiles included;
            compiled = CompileHlsl(original, argv[1], stage.entry, stage.profile, stage.language,
                                   spirv, packed, more, included);
            diagnostics.items.insert(diagnostics.items.end(), more.items.begin(), more.items.end());
        }
        std::printf("%s: text %s, %zu diagnostics; %s\n", stage.entry, ok ? "passes" : "refused",
                    diagnostics.items.size(), compiled ? "compiles" : "does not compile");
        std::fputs(FormatDiagnostics(diagnostics).c_str(), stdout);
    }
    return 0;
}
