// Runs the text passes alone (no glslang parse) on one file, for the three
// stages a scene load compiles, and prints how each ended. The regression set
// runs each of its inputs through this in a process of its own, under the
// sanitizers: a fault of the passes aborts it, and a fault in one input
// cannot hide the next.
#include "platform/gl/compiler/stages.h"

#include <cstdio>
#include <fstream>
#include <sstream>

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: hotfx_text_check FILE\n");
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
    const struct {
        const char *entry, *profile;
        EShLanguage language;
    } kStages[] = {{"vs_main", "vs_4_0", EShLangVertex},
                   {"gs_main", "gs_4_0", EShLangGeometry},
                   {"ps_main", "ps_4_0", EShLangFragment}};
    for (const auto &stage : kStages) {
        Diagnostics diagnostics;
        std::string text;
        const bool ok = CheckHlslText(original, argv[1], stage.entry, stage.profile, stage.language,
                                      diagnostics, text);
        std::printf("%s: %s, %zu diagnostics\n", stage.entry, ok ? "passes" : "refused",
                    diagnostics.items.size());
    }
    return 0;
}
