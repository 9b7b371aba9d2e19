// The mistakes people make most, each as a one-line edit of the starter
// shader or a few lines of its own, and the first line of the compiler's
// text as the Windows compiler's output records it: its code, its words,
// its place. Each row names the entry of docs/messages.md that gives the
// record. A place written "(L,?)" is one whose column no record settles.
#include "platform/gl/glsl/translate.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

struct Row {
    const char *record; // its code and records in docs/messages.md
    const char *from;   // the line of examples/main.fx to change; null: `to` is the whole file
    const char *to;
    const char *entry;
    const char *first; // the first line of the compiler's text
    int lines;         // how many lines the text has: one mistake, one message
};

const char *const kInclude = "float helper(float x)\n{\n    return x * undefinedThing;\n}\n";

const Row kRows[] = {
    {"X3004 [D1]", "pow(saturate(1.0 - d2), 3.0)", "pow(saturate(1.0 - dd2), 3.0)", "ps_main",
     "main.fx(74,37-39): error X3004: undeclared identifier 'dd2'", 1},
    {"X3004 [D6]", "pow(saturate(", "pow(staurate(", "ps_main",
     "main.fx(74,22-29): error X3004: undeclared identifier 'staurate'", 1},
    {"X3017 [D1] [D8]", "float3 c = lerp(Background, input.colour.rgb, glow) + core * 0.6;",
     "float3 c = input.offset;", "ps_main",
     "main.fx(78,?): error X3017: cannot implicitly convert from 'float2' to 'float3'", 1},
    {"X3017 [D1]", nullptr,
     "float4 ps_main() : SV_Target\n{\n    float2 a = 1;\n    return a;\n}\n", "ps_main",
     "main.fx(4,?): error X3017: cannot implicitly convert from 'float2' to 'float4'", 1},
    {"X3000 [D4] [T1]", "    return float4(saturate(c), 1.0);",
     "    return float4(saturate(c), 1.0)", "ps_main",
     "main.fx(80,1): error X3000: syntax error: unexpected token '}'", 1},
    {"X3000 [B1]", "1.0);\n}", "1.0);", "ps_main",
     "main.fx(?,?): error X3000: syntax error: unexpected end of file", 1},
    {"X3000 [D3] [N1]", "float3 c = lerp(", "flaot3 c = lerp(", "ps_main",
     "main.fx(78,5-10): error X3000: unrecognized identifier 'flaot3'", 1},
    {"X3013 [D1]", "dot(input.offset, input.offset)", "dot(input.offset)", "ps_main",
     "main.fx(73,18-20): error X3013: 'dot': no matching 1 parameter intrinsic function", 3},
    {"X3013 [D1]", nullptr,
     "float f(float a) { return a; }\nfloat4 ps_main() : SV_Target { return f(1, 2); }\n",
     "ps_main", "main.fx(2,39): error X3013: 'f': no matching 2 parameter function", 1},
    {"X3013 [D2]", nullptr,
     "Texture2D t;\nSamplerState s;\nfloat4 ps_main() : SV_Target { return t.Sample(s); }\n",
     "ps_main", "main.fx(3,41-46): error X3013: 'Sample': no matching 1 parameter intrinsic method",
     1},
    {"X3018 [D9] [T1]", "input.colour.rgb, glow", "input.colour.rgq, glow", "ps_main",
     "main.fx(78,33-48): error X3018: invalid subscript 'rgq'", 1},
    {"X3018 [K1] [T1]", "input.colour.rgb, glow", "input.color.rgb, glow", "ps_main",
     "main.fx(78,33-43): error X3018: invalid subscript 'color'", 1},
    {"X3018 [D9]", nullptr,
     "float4 ps_main() : SV_Target\n{\n    float4x4 m = 0;\n    return m._m04;\n}\n", "ps_main",
     "main.fx(4,12-17): error X3018: invalid subscript '_m04'", 1},
    {"X3017 [D6]", nullptr,
     "float4 ps_main() : SV_Target\n{\n    float a[2] = {1, 2};\n    float2 b = 0;\n"
     "    a = b;\n    return a[0];\n}\n",
     "ps_main", "main.fx(5,?): error X3017: cannot convert from 'float2' to 'float[2]'", 1},
    {"X3018 [T1]", nullptr,
     "Texture2D t;\nSamplerState s;\nfloat4 ps_main() : SV_Target { return t.Smple(s, 0); }\n",
     "ps_main", "main.fx(3,39-45): error X3018: invalid subscript 'Smple'", 1},
    {"X4010 [T3]", nullptr,
     "float4 ps_main() : SV_Target\n{\n    const int c = (1 / 0);\n    return c;\n}\n", "ps_main",
     "main.fx(3,?): error X4010: Unsigned integer divide by zero", 1},
    {"X3025 [D1]", "        p.offset   = corners[k];", "        corners[k] = p.offset;", "gs_main",
     "main.fx(64,?): error X3025: l-value specifies const object", 1},
    {"X3003 [W1]", "float core = exp(", "float d2 = exp(", "ps_main",
     "main.fx(75,11-12): error X3003: redefinition of 'd2'", 1},
    {"X3503 [M1] [M3]", "float4 ps_main(Pixel input) : SV_Target", "float4 ps_main(Pixel input)",
     "ps_main", "main.fx(71,?): error X3503: 'ps_main': function return value missing semantics",
     1},
    {"X3502 [M1] [M2]", nullptr, "float4 ps_main(float k) : SV_Target { return k; }\n", "ps_main",
     "main.fx(1,?): error X3502: 'ps_main': input parameter 'k' missing semantics", 1},
    {"X3501 [E1]", "float4 ps_main(Pixel input)", "float4 ps_mian(Pixel input)", "ps_main",
     "error X3501: 'ps_main': entrypoint not found", 1},
    {"X1507 [F1]", nullptr,
     "#include \"nothere.fxh\"\nfloat4 ps_main() : SV_Target { return 0; }\n", "ps_main",
     "main.fx(1,10-22): error X1507: failed to open source file: 'nothere.fxh'", 1},
    // An error in an included file names that file and its own line.
    {"X3004 [D1]", nullptr,
     "#include \"inc.fxh\"\nfloat4 ps_main() : SV_Target { return helper(1); }\n", "ps_main",
     "inc.fxh(3,16-29): error X3004: undeclared identifier 'undefinedThing'", 1},
};

std::string Read(const char *path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The expected line as a pattern: "?" stands for a column or a range.
std::regex Pattern(const std::string &line) {
    std::string pattern;
    for (char c : line) {
        if (c == '?')
            pattern += R"(\d+(-\d+)?)";
        else if (std::string("\\^$.|+*()[]{}").find(c) != std::string::npos)
            pattern += std::string("\\") + c;
        else
            pattern += c;
    }
    return std::regex(pattern);
}

TEST(Messages, TheFirstLineIsTheWindowsCompilers) {
    namespace fs            = std::filesystem;
    const fs::path previous = fs::current_path();
    const fs::path folder =
        fs::temp_directory_path() / ("hotfx_messages_" + std::to_string(getpid()));
    fs::create_directories(folder);
    fs::current_path(folder);
    std::ofstream("inc.fxh", std::ios::binary) << kInclude;
    const std::string example = Read(HOTFX_EXAMPLE);
    ASSERT_FALSE(example.empty());
    for (const Row &row : kRows) {
        SCOPED_TRACE(std::string(row.record) + ": " + row.to);
        std::string source = row.to;
        if (row.from) {
            const size_t at = example.find(row.from);
            ASSERT_NE(at, std::string::npos) << "not in the example: " << row.from;
            source = example;
            source.replace(at, std::strlen(row.from), row.to);
        }
        std::ofstream("main.fx", std::ios::binary) << source;
        const std::string profile = std::string(row.entry).substr(0, 2) + "_4_0";
        ID3D10Blob *shader = nullptr, *messages = nullptr;
        const HRESULT hr =
            D3DX11CompileFromFileA("main.fx", nullptr, nullptr, row.entry, profile.c_str(), 0x800,
                                   0, nullptr, &shader, &messages, nullptr);
        const std::string text =
            messages ? static_cast<const char *>(messages->GetBufferPointer()) : "";
        if (shader) shader->Release();
        if (messages) messages->Release();
        EXPECT_LT(hr, 0);
        std::istringstream lines(text);
        std::string first;
        std::getline(lines, first);
        EXPECT_TRUE(std::regex_match(first, Pattern(row.first))) << text;
        int count = first.empty() ? 0 : 1;
        for (std::string line; std::getline(lines, line);)
            count += !line.empty();
        EXPECT_EQ(count, row.lines) << text;
    }
    fs::current_path(previous);
    fs::remove_all(folder);
}

// Every record a row names is one docs/messages.md lists, with the row's code
// in its table.
TEST(Messages, EachRowsRecordsAreListed) {
    const std::string doc = Read(HOTFX_MESSAGES_DOC);
    ASSERT_FALSE(doc.empty());
    for (const Row &row : kRows) {
        std::istringstream words(row.record);
        std::string code, record;
        words >> code;
        EXPECT_NE(doc.find("| " + code + " |"), std::string::npos) << code;
        while (words >> record)
            EXPECT_NE(doc.find("- `" + record + "`"), std::string::npos) << record;
    }
}

} // namespace
