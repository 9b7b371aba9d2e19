// The SPIR-V passes read glslang's words once: words that are not a
// well-formed module get one answer, an error about the file as a whole,
// and are left as they were; a module the passes have nothing to do to
// comes back word for word.
#include "platform/gl/spirv/passes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<uint32_t> Module(uint32_t bound, std::vector<uint32_t> instructions) {
    std::vector<uint32_t> words = {spv::MagicNumber, 0x00010000, 0, bound, 0};
    words.insert(words.end(), instructions.begin(), instructions.end());
    return words;
}

constexpr uint32_t Op(spv::Op op, uint32_t words) {
    return words << 16 | op;
}

TEST(SpirvPasses, ReadOnlyWellFormedModules) {
    const struct {
        const char *what;
        std::vector<uint32_t> words;
        const char *error; // nullptr: passes
    } cases[] = {
        {"nothing to do",
         Module(2, {Op(spv::OpCapability, 2), spv::CapabilityShader, Op(spv::OpMemoryModel, 3), 0,
                    1, Op(spv::OpTypeVoid, 2), 1}),
         nullptr},
        {"no words", {}, "no SPIR-V was generated"},
        {"another magic", {1, 2, 3, 4, 5}, "not a SPIR-V module"},
        {"a word count of 0", Module(2, {Op(spv::OpNop, 0)}), "runs past the end"},
        {"a word count past the end", Module(2, {Op(spv::OpCapability, 3), 1}),
         "runs past the end"},
        {"a result missing", Module(2, {Op(spv::OpTypeVoid, 1)}), "lacks its result"},
        {"an id at the bound", Module(2, {Op(spv::OpTypeVoid, 2), 2}), "below the module's bound"},
        {"a bound past SPIR-V's", Module(0x400000, {}), "past SPIR-V's limit"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint32_t> words = c.words;
        Diagnostics diagnostics;
        const SpirvPassesResult result =
            RunSpirvPasses(words, {ShaderStage::Pixel, "main.fx", "", {}}, diagnostics);
        EXPECT_EQ(words, c.words);
        EXPECT_EQ(result.ok, !c.error);
        if (!c.error) {
            EXPECT_TRUE(diagnostics.items.empty());
            continue;
        }
        ASSERT_EQ(diagnostics.items.size(), 1u);
        const Diagnostic &d = diagnostics.items[0];
        EXPECT_EQ(d.file, "main.fx");
        EXPECT_EQ(d.line, 0);
        EXPECT_NE(d.text.find(c.error), std::string::npos) << d.text;
    }
}

} // namespace
