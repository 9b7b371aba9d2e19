// HLSL files compiled through D3DX11CompileFromFileA and translated with
// TranslateToGlsl, without a GL context. Every GLSL written is compiled back
// with glslang as OpenGL 4.50 GLSL.
#include "platform/gl/glsl/translate.h"

#include <glslang/Public/ResourceLimits.h>
#include <glslang/Public/ShaderLang.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr HRESULT kFail         = static_cast<HRESULT>(0x80004005);
constexpr HRESULT kFileNotFound = static_cast<HRESULT>(0x80070002);

struct Compiled {
    HRESULT hr     = 0;
    bool hasShader = false;
    std::vector<char> bytecode;
    bool hasMessages        = false;
    bool messagesTerminated = false;
    std::string messages;
};

// One compile, as the scene load makes it; the blobs are copied and released.
Compiled Compile(const char *entry, const char *profile, const char *file = "main.fx") {
    Compiled out;
    ID3D10Blob *shader = nullptr, *messages = nullptr;
    out.hr = D3DX11CompileFromFileA(file, nullptr, nullptr, entry, profile, 0x800, 0, nullptr,
                                    &shader, &messages, nullptr);
    if (shader) {
        const char *data = static_cast<const char *>(shader->GetBufferPointer());
        out.hasShader    = true;
        out.bytecode.assign(data, data + shader->GetBufferSize());
        shader->Release();
    }
    if (messages) {
        const char *data       = static_cast<const char *>(messages->GetBufferPointer());
        size_t size            = messages->GetBufferSize();
        out.hasMessages        = true;
        out.messagesTerminated = size > 0 && data[size - 1] == '\0';
        out.messages.assign(data, strnlen(data, size));
        messages->Release();
    }
    return out;
}

EShLanguage Language(ShaderStage stage) {
    switch (stage) {
    case ShaderStage::Vertex:
        return EShLangVertex;
    case ShaderStage::Geometry:
        return EShLangGeometry;
    case ShaderStage::Pixel:
        break;
    }
    return EShLangFragment;
}

// What glslang says about the GLSL as an OpenGL 4.50 shader; empty if valid.
std::string GlslErrors(ShaderStage stage, const std::string &glsl) {
    static const bool initialised = glslang::InitializeProcess();
    if (!initialised) return "glslang did not initialise";
    EShLanguage language = Language(stage);
    glslang::TShader shader(language);
    const char *text = glsl.c_str();
    shader.setStrings(&text, 1);
    shader.setEnvInput(glslang::EShSourceGlsl, language, glslang::EShClientOpenGL, 450);
    shader.setEnvClient(glslang::EShClientOpenGL, glslang::EShTargetOpenGL_450);
    shader.setEnvTarget(glslang::EShTargetSpv, glslang::EShTargetSpv_1_0);
    if (!shader.parse(GetDefaultResources(), 450, false, EShMsgDefault)) return shader.getInfoLog();
    glslang::TProgram program;
    program.addShader(&shader);
    if (!program.link(EShMsgDefault)) return program.getInfoLog();
    return "";
}

// Translates a compiled blob, linked against the stage before it, and
// checks that the GLSL is valid.
Translation Translated(ShaderStage stage, const Compiled &compiled,
                       const Translation *previous = nullptr) {
    Translation result;
    std::string error;
    EXPECT_EQ(compiled.hr, 0) << compiled.messages;
    if (!TranslateToGlsl(stage, compiled.bytecode.data(), compiled.bytecode.size(),
                         previous ? &previous->outputs : nullptr, result, error)) {
        ADD_FAILURE() << "translation failed: " << error;
        return Translation();
    }
    EXPECT_EQ(GlslErrors(stage, result.glsl), "") << result.glsl;
    return result;
}

std::string Glsl(ShaderStage stage, const Compiled &compiled) {
    return Translated(stage, compiled).glsl;
}

bool Translates(ShaderStage stage, const void *bytecode, size_t size, std::string &glsl,
                std::string &error) {
    Translation result;
    const bool ok = TranslateToGlsl(stage, bytecode, size, nullptr, result, error);
    glsl          = result.glsl;
    return ok;
}

struct Varying {
    int location;
    std::string type;
};

// The located inputs or outputs of a GLSL stage, keyed by the HLSL member
// name (SPIRV-Cross writes "stream.col" as stream_col).
std::map<std::string, Varying> Varyings(const std::string &glsl, const std::string &direction) {
    std::map<std::string, Varying> found;
    std::regex declaration(R"(layout\(location = (\d+)\) (?:flat |noperspective |centroid )*)" +
                           direction + R"( (\w+) \w+_(\w+)(\[\d+\])?;)");
    for (std::sregex_iterator it(glsl.begin(), glsl.end(), declaration), end; it != end; ++it)
        found[(*it)[3]] = Varying{std::stoi((*it)[1]), (*it)[2]};
    return found;
}

// Checks that every input of the later stage reads the earlier stage's
// output of the same member (and so of the same semantic in these sources).
void ExpectLinked(const std::string &earlier, const std::string &later,
                  const std::vector<std::string> &members) {
    auto outputs = Varyings(earlier, "out");
    auto inputs  = Varyings(later, "in");
    for (const std::string &member : members) {
        ASSERT_TRUE(outputs.count(member)) << member << " not written by\n" << earlier;
        ASSERT_TRUE(inputs.count(member)) << member << " not read by\n" << later;
        EXPECT_EQ(outputs[member].location, inputs[member].location) << member;
        EXPECT_EQ(outputs[member].type, inputs[member].type) << member;
    }
}

// The byte offset in the constant buffer that the vertex GLSL reads the
// output `member` from, when the buffer is a flat array of registers
// (REG[i].swizzle); -1 when the GLSL reads it some other way.
int OffsetRead(const std::string &glsl, const std::string &member) {
    std::regex read("_entryPointOutput_" + member +
                    R"( = (?:floatBitsTo\w+\()?\w+\[(\d+)\]\.([xyzw]+)\)?;)");
    std::smatch match;
    if (!std::regex_search(glsl, match, read)) return -1;
    return 16 * std::stoi(match[1]) +
           4 * static_cast<int>(std::string("xyzw").find(match[2].str()[0]));
}

// Each test runs in its own scratch directory holding its "main.fx".
class Translate : public ::testing::Test {
  protected:
    void SetUp() override {
        previous_ = fs::current_path();
        scratch_  = fs::temp_directory_path() /
                   ("hotfx_translate_" + std::to_string(getpid()) + "_" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(scratch_);
        fs::create_directories(scratch_);
        fs::current_path(scratch_);
    }
    void TearDown() override {
        fs::current_path(previous_);
        fs::remove_all(scratch_);
    }
    static void Write(const std::string &text, const char *file = "main.fx") {
        std::ofstream(file, std::ios::binary) << text;
    }

  private:
    fs::path previous_, scratch_;
};

// A typical main.fx: particles from the constant buffer by instance, a quad
// per point, a soft round sprite.
const char *const kParticles = R"(
cbuffer Scene : register(b0)
{
    float4 reg[1024];
};

struct VSOut { float4 pos : SV_Position; float4 col : COLOR; float size : PSIZE; };
struct GSOut { float4 pos : SV_Position; float2 uv : TEXCOORD; float4 col : COLOR0; };

VSOut vs_main(uint id : SV_InstanceID)
{
    VSOut o;
    float4 p = reg[16 + 2 * id];
    float4 s = reg[17 + 2 * id];
    o.pos = float4(p.xy, 0.5, 1);
    o.col = float4(s.xyz, 1) * (0.5 + 0.5 * sin(reg[0].x * 3 + s.w));
    o.size = 0.02 + 0.01 * s.x;
    return o;
}

[maxvertexcount(4)]
void gs_main(point VSOut input[1], inout TriangleStream<GSOut> stream)
{
    GSOut o;
    o.col = input[0].col;
    for (int i = 0; i < 4; ++i)
    {
        float2 c = float2(i & 1, i >> 1);
        o.uv = c;
        o.pos = input[0].pos + float4((c * 2 - 1) * input[0].size, 0, 0);
        stream.Append(o);
    }
    stream.RestartStrip();
}

struct PSIn { float4 pos : SV_Position; float4 col : COLOR; float2 uv : TEXCOORD0; };

float4 ps_main(PSIn i) : SV_Target
{
    float d = length(i.uv - 0.5);
    return i.col * saturate(1 - 2 * d);
}
)";

TEST_F(Translate, ParticleShaderRunsThroughAllThreeStages) {
    Write(kParticles);
    Compiled vs = Compile("vs_main", "vs_4_0");
    Compiled gs = Compile("gs_main", "gs_4_0");
    Compiled ps = Compile("ps_main", "ps_4_0");
    for (const Compiled *c : {&vs, &gs, &ps}) {
        EXPECT_EQ(c->hr, 0) << c->messages;
        EXPECT_FALSE(c->hasMessages) << c->messages;
        ASSERT_TRUE(c->hasShader);
    }
    Translation v        = Translated(ShaderStage::Vertex, vs);
    Translation g        = Translated(ShaderStage::Geometry, gs, &v);
    Translation p        = Translated(ShaderStage::Pixel, ps, &g);
    std::string vertex   = v.glsl;
    std::string geometry = g.glsl;
    std::string pixel    = p.glsl;

    // SV_InstanceID without the start instance.
    EXPECT_NE(vertex.find("gl_InstanceID"), std::string::npos) << vertex;
    EXPECT_EQ(vertex.find("BaseInstance"), std::string::npos) << vertex;
    EXPECT_TRUE(std::regex_search(vertex, std::regex(R"(layout\(binding = 0, std140\) uniform)")))
        << vertex;
    ExpectLinked(vertex, geometry, {"col", "size"});
    ExpectLinked(geometry, pixel, {"col", "uv"});
}

// A reload's other entry points are compiled ahead of their requests, on
// the file as the first request read it, and all of them when the file is
// saved; each request still gets what its file and includes hold at its own
// call: here an edit written after the vertex stage's compile, or after a
// save whose compiles have had time to finish.
TEST_F(Translate, CompilesAheadFollowEditsBetweenTheRequests) {
    std::string source = kParticles;
    source.replace(source.find("1 - 2 * d"), 9, "1 - GLOW * d");
    source                        = "#include \"glow.fxh\"\n" + source;
    const char *const entries[3]  = {"vs_main", "gs_main", "ps_main"};
    const char *const profiles[3] = {"vs_4_0", "gs_4_0", "ps_4_0"};
    std::string broken            = source;
    broken.replace(broken.find("return i.col"), 12, "return edited");
    struct Edit {
        const char *file;
        std::string text;
        bool afterSave;
    };
    const Edit edits[] = {{"main.fx", broken, false},
                          {"glow.fxh", "#define GLOW edited\n", false},
                          {"main.fx", broken, true},
                          {"glow.fxh", "#define GLOW edited\n", true}};
    for (const Edit &edit : edits) {
        Write(source);
        Write("#define GLOW 2\n", "glow.fxh");
        for (int load = 0; load < 2; ++load) // the second load compiles ahead
            for (int s = 0; s < 3; ++s)
                EXPECT_EQ(Compile(entries[s], profiles[s]).hr, 0);
        if (edit.afterSave) {
            Write(source + "\n// saved\n");
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            Write(edit.text, edit.file);
        }
        const Compiled vertex = Compile(entries[0], profiles[0]);
        if (!edit.afterSave) {
            EXPECT_EQ(vertex.hr, 0);
            Write(edit.text, edit.file);
        }
        Compile(entries[1], profiles[1]); // fails too where the file is broken
        const Compiled pixel = Compile(entries[2], profiles[2]);
        EXPECT_NE(pixel.hr, 0) << edit.file << edit.afterSave;
        EXPECT_NE(pixel.messages.find("'edited'"), std::string::npos) << pixel.messages;
    }
}

TEST_F(Translate, CompileResultsFollowTheWindowsRuntime) {
    Write(kParticles);
    Compiled good = Compile("vs_main", "vs_4_0");
    EXPECT_EQ(good.hr, 0);
    ASSERT_GE(good.bytecode.size(), 20u);
    uint32_t words[5];
    std::memcpy(words, good.bytecode.data(), sizeof words);
    EXPECT_EQ(words[0], kBytecodeMagic);
    EXPECT_EQ(words[1], kBytecodeVersion);
    EXPECT_EQ(words[2], static_cast<uint32_t>(ShaderStage::Vertex));
    EXPECT_EQ(words[3], 0u);          // no cbuffer placed with packoffset
    EXPECT_EQ(words[4], 0x07230203u); // SPIR-V

    // A missing entry point is an error, although glslang only warns.
    Compiled missing = Compile("gs_missing", "gs_4_0");
    EXPECT_EQ(missing.hr, kFail);
    EXPECT_FALSE(missing.hasShader);
    EXPECT_TRUE(missing.messagesTerminated);
    EXPECT_NE(missing.messages.find("gs_missing"), std::string::npos) << missing.messages;

    Compiled profile = Compile("vs_main", "cs_5_0");
    EXPECT_EQ(profile.hr, kFail);
    EXPECT_FALSE(profile.hasShader);
    EXPECT_NE(profile.messages.find("cs_5_0"), std::string::npos) << profile.messages;
}

TEST_F(Translate, SyntaxErrorNamesTheFileAndLine) {
    Write("float4 vs_main() : SV_Position\n{\n    return float4(0, 0, 0, 1)\n}\n");
    Compiled c = Compile("vs_main", "vs_4_0");
    EXPECT_EQ(c.hr, kFail);
    EXPECT_FALSE(c.hasShader);
    ASSERT_TRUE(c.hasMessages);
    EXPECT_TRUE(c.messagesTerminated);
    EXPECT_NE(c.messages.find("main.fx(4,"), std::string::npos) << c.messages;
}

TEST_F(Translate, UnreadableFiles) {
    // No file: the Windows result and no message blob.
    Compiled none = Compile("vs_main", "vs_4_0");
    EXPECT_EQ(none.hr, kFileNotFound);
    EXPECT_FALSE(none.hasShader);
    EXPECT_FALSE(none.hasMessages);

    // A folder where the file should be: a failure that says why.
    fs::create_directory("main.fx");
    Compiled folder = Compile("vs_main", "vs_4_0");
    EXPECT_LT(folder.hr, 0);
    EXPECT_NE(folder.hr, kFileNotFound);
    EXPECT_FALSE(folder.hasShader);
    EXPECT_TRUE(folder.messagesTerminated);
    EXPECT_NE(folder.messages.find("main.fx"), std::string::npos);

    // An empty file has no entry point.
    Write("", "empty.fx");
    EXPECT_EQ(Compile("vs_main", "vs_4_0", "empty.fx").hr, kFail);
}

TEST_F(Translate, RejectsBytecodeOfAnotherStageOrMalformed) {
    Write(kParticles);
    Compiled vs = Compile("vs_main", "vs_4_0");
    ASSERT_EQ(vs.hr, 0);
    std::string glsl, error;

    EXPECT_FALSE(
        Translates(ShaderStage::Pixel, vs.bytecode.data(), vs.bytecode.size(), glsl, error));
    EXPECT_NE(error.find("vertex"), std::string::npos) << error;
    EXPECT_TRUE(glsl.empty());

    EXPECT_FALSE(Translates(ShaderStage::Vertex, nullptr, 0, glsl, error));
    EXPECT_FALSE(error.empty());
    const char text[] = "float4 vs_main() : SV_Position { return 0; }";
    EXPECT_FALSE(Translates(ShaderStage::Vertex, text, sizeof text - 1, glsl, error));
    EXPECT_FALSE(error.empty());

    // Every truncation, and every single damaged word: refused or
    // translated, never a crash (the sanitizer build watches).
    std::vector<char> bytes = vs.bytecode;
    for (size_t size = 0; size < bytes.size(); size += 4) {
        EXPECT_FALSE(Translates(ShaderStage::Vertex, bytes.data(), size, glsl, error)) << size;
        EXPECT_FALSE(error.empty());
    }
    for (size_t at = 8; at + 4 <= bytes.size(); at += 4) {
        std::vector<char> damaged = bytes;
        std::memset(damaged.data() + at, 0xff, 4);
        bool ok = Translates(ShaderStage::Vertex, damaged.data(), damaged.size(), glsl, error);
        EXPECT_TRUE(ok ? !glsl.empty() && error.empty() : glsl.empty() && !error.empty()) << at;
    }
    // Unaligned bytecode is read as well as aligned.
    std::vector<char> shifted(bytes.size() + 1);
    std::memcpy(shifted.data() + 1, bytes.data(), bytes.size());
    EXPECT_TRUE(Translates(ShaderStage::Vertex, shifted.data() + 1, bytes.size(), glsl, error))
        << error;
}

// Stages that declare the same semantics in different orders.
const char *const kReordered = R"(
struct VSOut { float4 pos : SV_Position; float size : PSIZE; float4 col : COLOR; };
struct GSIn  { float4 pos : SV_Position; float4 col : COLOR; float size : PSIZE0; };
struct GSOut { float4 pos : SV_Position; float2 uv : TEXCOORD; float4 col : color0; float fog : FOG; };
struct PSIn  { float fog : FOG; float4 col : COLOR; float4 pos : SV_Position; float2 uv : TEXCOORD0; };

VSOut vs_main(uint id : SV_VertexID)
{
    VSOut o;
    o.pos = float4(id, 0, 0, 1);
    o.size = id * 0.5;
    o.col = float4(1, id, 0, 1);
    return o;
}

[maxvertexcount(1)]
void gs_main(point GSIn input[1], inout PointStream<GSOut> stream)
{
    GSOut o;
    o.pos = input[0].pos;
    o.uv = input[0].size.xx;
    o.col = input[0].col;
    o.fog = input[0].pos.x;
    stream.Append(o);
}

float4 ps_main(PSIn i) : SV_Target
{
    return i.col * i.uv.x * i.fog;
}

// The same outputs in yet another order.
[maxvertexcount(1)]
void gs_other(point GSIn input[1], inout PointStream<PSIn> stream)
{
    PSIn o;
    o.fog = input[0].size;
    o.col = input[0].col;
    o.pos = input[0].pos;
    o.uv = input[0].pos.xy;
    stream.Append(o);
}

float4 ps_extra(PSIn i, float4 extra : TEXCOORD1) : SV_Target
{
    return i.col * extra;
}
)";

TEST_F(Translate, StagesLinkBySemanticNotByOrder) {
    Write(kReordered);
    Translation vertex   = Translated(ShaderStage::Vertex, Compile("vs_main", "vs_4_0"));
    Translation geometry = Translated(ShaderStage::Geometry, Compile("gs_main", "gs_4_0"), &vertex);
    Translation pixel    = Translated(ShaderStage::Pixel, Compile("ps_main", "ps_4_0"), &geometry);
    ExpectLinked(vertex.glsl, geometry.glsl, {"size", "col"});
    ExpectLinked(geometry.glsl, pixel.glsl, {"uv", "col", "fog"});

    // The same pixel stage after another geometry stage follows that one.
    Translation other = Translated(ShaderStage::Geometry, Compile("gs_other", "gs_4_0"), &vertex);
    Translation again = Translated(ShaderStage::Pixel, Compile("ps_main", "ps_4_0"), &other);
    ExpectLinked(other.glsl, again.glsl, {"uv", "col", "fog"});
}

TEST_F(Translate, InputNotWrittenByThePreviousStageIsAnError) {
    Write(kReordered + std::string(R"(
struct Lonely { float4 pos : SV_Position; float4 tint : TINT; };
[maxvertexcount(1)]
void gs_lonely(point Lonely input[1], inout PointStream<PSIn> stream)
{
    PSIn o = (PSIn)0;
    o.col = input[0].tint;
    stream.Append(o);
}
)"));
    Translation vertex = Translated(ShaderStage::Vertex, Compile("vs_main", "vs_4_0"));
    Compiled lonely    = Compile("gs_lonely", "gs_4_0");
    Translation result;
    std::string error;
    EXPECT_FALSE(TranslateToGlsl(ShaderStage::Geometry, lonely.bytecode.data(),
                                 lonely.bytecode.size(), &vertex.outputs, result, error));
    EXPECT_NE(error.find("TINT0"), std::string::npos) << error;

    Translation geometry = Translated(ShaderStage::Geometry, Compile("gs_main", "gs_4_0"), &vertex);
    Compiled extra       = Compile("ps_extra", "ps_4_0");
    EXPECT_FALSE(TranslateToGlsl(ShaderStage::Pixel, extra.bytecode.data(), extra.bytecode.size(),
                                 &geometry.outputs, result, error));
    EXPECT_NE(error.find("TEXCOORD1"), std::string::npos) << error;
}

// A bool among the stages' inputs and outputs travels as uint components
// (bool-semantics.shader_test: Windows passes them between stages), where
// SPIR-V allows no bool there: every stage translates, and each reads the
// components the stage before it wrote.
TEST_F(Translate, BoolSemanticsTravelAsUints) {
    Write(R"(
struct V { float4 pos : SV_Position; bool lit : LIT; bool2 mask[2] : MASK; };
V vs_main(float4 p : POSITION, bool4 on : ON)
{
    V v;
    v.pos = p;
    v.lit = on.x;
    v.mask[0] = on.yz;
    v.mask[1].x = on.w;
    v.mask[1].y = !on.w;
    return v;
}
[maxvertexcount(1)]
void gs_main(point V input[1], inout PointStream<V> stream)
{
    V v = input[0];
    v.lit = !v.lit;
    stream.Append(v);
}
float4 ps_main(V v) : SV_Target { return float4(v.lit, v.mask[0], v.mask[1].y); }
)");
    Translation vertex   = Translated(ShaderStage::Vertex, Compile("vs_main", "vs_4_0"));
    Translation geometry = Translated(ShaderStage::Geometry, Compile("gs_main", "gs_4_0"), &vertex);
    Translation pixel    = Translated(ShaderStage::Pixel, Compile("ps_main", "ps_4_0"), &geometry);
    // Each bool, and each element of the array, is one varying of uints.
    for (const std::string *glsl : {&vertex.glsl, &geometry.glsl}) {
        std::vector<std::string> members;
        for (const auto &[member, varying] : Varyings(*glsl, "out")) {
            members.push_back(member);
            EXPECT_EQ(varying.type[0], 'u') << member << " in\n" << *glsl;
        }
        EXPECT_EQ(members.size(), 3u) << *glsl;
        ExpectLinked(*glsl, glsl == &vertex.glsl ? geometry.glsl : pixel.glsl, members);
    }
}

// Constant buffers of every stage land at that stage's own bindings, so the
// same register in two stages reads two different buffers.
TEST_F(Translate, EachStageReadsItsOwnConstantBufferBindings) {
    Write(R"(
cbuffer First : register(b0) { float4 first; };
cbuffer Last : register(b13) { float4 last; };
cbuffer Beyond : register(b14) { float4 beyond; };
struct V { float4 pos : SV_Position; };
V vs_main() { V o; o.pos = first + last; return o; }
[maxvertexcount(1)]
void gs_main(point V input[1], inout PointStream<V> stream)
{
    V o; o.pos = input[0].pos * first + last; stream.Append(o);
}
float4 ps_main(V i) : SV_Target { return i.pos * first + last; }
float4 ps_beyond(V i) : SV_Target { return beyond; }
)");
    const struct {
        ShaderStage stage;
        const char *entry, *profile;
    } cases[] = {{ShaderStage::Vertex, "vs_main", "vs_4_0"},
                 {ShaderStage::Geometry, "gs_main", "gs_4_0"},
                 {ShaderStage::Pixel, "ps_main", "ps_4_0"}};
    Translation previous;
    for (const auto &c : cases) {
        Translation t = Translated(c.stage, Compile(c.entry, c.profile), &previous);
        std::map<uint32_t, uint32_t> bindings; // register -> binding
        for (const ConstantBufferUse &use : t.constantBuffers)
            bindings[use.slot] = use.binding;
        const uint32_t base = 14 * static_cast<uint32_t>(c.stage);
        EXPECT_EQ(bindings, (std::map<uint32_t, uint32_t>{{0, base}, {13, base + 13}})) << c.entry;
        for (uint32_t binding : {base, base + 13})
            EXPECT_NE(t.glsl.find("layout(binding = " + std::to_string(binding) + ", std140)"),
                      std::string::npos)
                << t.glsl;
        if (c.stage != ShaderStage::Pixel) previous = t;
    }
    // A register past the stage's last slot would reach another stage's: if
    // the compiler lets it through, the translation refuses it.
    Compiled beyond = Compile("ps_beyond", "ps_4_0");
    if (beyond.hr == 0) {
        Translation t;
        std::string error;
        EXPECT_FALSE(TranslateToGlsl(ShaderStage::Pixel, beyond.bytecode.data(),
                                     beyond.bytecode.size(), &previous.outputs, t, error));
        EXPECT_NE(error.find("b14"), std::string::npos) << error;
    }

    // $Globals takes the lowest register no cbuffer claims, whatever the
    // order of declarations and before the cbuffers without a register.
    const struct {
        const char *claim;
        int globals;
    } claims[] = {{"", 0}, {": register(b3)", 0}, {": register(b0)", 1}};
    for (const auto &c : claims) {
        Write(std::string("cbuffer Auto { float4 a; };\ncbuffer Claim ") + c.claim +
              " { float4 b; };\nfloat4 g;\nfloat4 ps_main() : SV_Target { return a + b + g; }\n");
        const std::string glsl = Glsl(ShaderStage::Pixel, Compile("ps_main", "ps_4_0"));
        std::smatch match;
        ASSERT_TRUE(std::regex_search(glsl, match,
                                      std::regex(R"(binding = (\d+), std140\) uniform _Global)")))
            << glsl;
        EXPECT_EQ(std::stoi(match[1]) - 28, c.globals) << c.claim << "\n" << glsl;
    }
}

// Members whose HLSL offsets differ from std140; each is copied to an output
// of the same name so the test can see where the GLSL reads it.
const char *const kPacking = R"(
struct S { float4 x; float y; };
cbuffer Params : register(b2)
{
    float a;      //   0
    float3 b;     //   4: packed behind a
    float arr[3]; //  16, 32, 48
    float c;      //  52: in the last element's register
    S s;          //  64, 80
    float z;      //  84: behind the structure
    float2 t;     //  88
};
struct Out { float4 pos : SV_Position; float3 b : B; float arr : ARR; float c : C;
             float y : Y; float z : Z; float2 t : T; };
Out vs_main(uint id : SV_VertexID)
{
    Out o;
    o.pos = float4(a, s.x.yzw);
    o.b = b;
    o.arr = arr[1];
    o.c = c;
    o.y = s.y;
    o.z = z;
    o.t = t;
    return o;
}

// Packs like std140 but for the float behind the matrix, which GLSL cannot
// place there with layout(offset).
cbuffer Matrix : register(b3)
{
    float3x3 m;   //   0, 16, 32
    float k;      //  44
};
struct MatrixOut { float4 pos : SV_Position; float k : K; };
MatrixOut vs_matrix(uint id : SV_VertexID)
{
    MatrixOut o;
    o.pos = float4(m[0], 1);
    o.k = k;
    return o;
}

// packoffset places each member exactly, in any order.
cbuffer Packed : register(b4)
{
    float2 pv : packoffset(c2.y); //  36
    float4 pw : packoffset(c0);   //   0
    float px : packoffset(c5.w);  //  92
};
struct PackedOut { float4 pos : SV_Position; float2 pv : PV; float px : PX; };
PackedOut vs_packed(uint id : SV_VertexID)
{
    PackedOut o;
    o.pos = pw;
    o.pv = pv;
    o.px = px;
    return o;
}

// Integers beside floats, in an array of structures whose unpadded tail the
// next member shares.
struct M { float f; int i; float3 v; };
cbuffer Mixed : register(b5)
{
    M ms[2];      //   0, 32: ms[1].i at 36, ms[1].v at 48
    uint u;       //  60
    float2x1 d;   //  64: a matrix starts a register
    float e;      //  72
    float1x2 g;   //  80, 96: one register per column
    float h;      // 100
};
struct MixedOut { float4 pos : SV_Position; int i : I; uint u : U; float e : E; float h : H; };
MixedOut vs_mixed(uint id : SV_VertexID)
{
    MixedOut o;
    o.pos = float4(ms[1].v, ms[0].f + d[1][0] + g[0][1]);
    o.i = ms[1].i;
    o.u = u;
    o.e = e;
    o.h = h;
    return o;
}
)";

TEST_F(Translate, ConstantBuffersKeepHlslPacking) {
    Write(kPacking);
    std::string vertex = Glsl(ShaderStage::Vertex, Compile("vs_main", "vs_4_0"));
    EXPECT_EQ(OffsetRead(vertex, "b"), 4) << vertex;
    EXPECT_EQ(OffsetRead(vertex, "arr"), 32) << vertex;
    EXPECT_EQ(OffsetRead(vertex, "c"), 52) << vertex;
    EXPECT_EQ(OffsetRead(vertex, "y"), 80) << vertex;
    EXPECT_EQ(OffsetRead(vertex, "z"), 84) << vertex;
    EXPECT_EQ(OffsetRead(vertex, "t"), 88) << vertex;
    // Still a uniform block, at the register's binding.
    EXPECT_TRUE(std::regex_search(vertex, std::regex(R"(layout\(binding = 2, std140\) uniform)")))
        << vertex;

    std::string matrix = Glsl(ShaderStage::Vertex, Compile("vs_matrix", "vs_4_0"));
    EXPECT_EQ(OffsetRead(matrix, "k"), 44) << matrix;

    std::string packed = Glsl(ShaderStage::Vertex, Compile("vs_packed", "vs_4_0"));
    EXPECT_EQ(OffsetRead(packed, "pv"), 36) << packed;
    EXPECT_EQ(OffsetRead(packed, "px"), 92) << packed;

    std::string mixed = Glsl(ShaderStage::Vertex, Compile("vs_mixed", "vs_4_0"));
    EXPECT_EQ(OffsetRead(mixed, "i"), 36) << mixed;
    EXPECT_EQ(OffsetRead(mixed, "u"), 60) << mixed;
    EXPECT_EQ(OffsetRead(mixed, "e"), 72) << mixed;
    EXPECT_EQ(OffsetRead(mixed, "h"), 100) << mixed;
}

TEST_F(Translate, PixelPositionCountsFromTheTopLeft) {
    Write(R"(
float4 vs_main(uint id : SV_VertexID) : SV_Position { return float4(id, 0, 0, 1); }
float4 ps_main(float4 pos : SV_Position) : SV_Target { return float4(pos.xy / 1024, pos.w, 1); }
)");
    Translation v      = Translated(ShaderStage::Vertex, Compile("vs_main", "vs_4_0"));
    std::string vertex = v.glsl;
    std::string pixel  = Translated(ShaderStage::Pixel, Compile("ps_main", "ps_4_0"), &v).glsl;
    size_t origin      = pixel.find("layout(origin_upper_left) in vec4 gl_FragCoord;");
    ASSERT_NE(origin, std::string::npos) << pixel;
    EXPECT_LT(origin, pixel.find("gl_FragCoord.")) << pixel;
    EXPECT_EQ(vertex.find("origin_upper_left"), std::string::npos);
    // SV_Position.w is w itself, as on Windows, not GL's 1/w.
    EXPECT_NE(pixel.find("1.0 / gl_FragCoord.w"), std::string::npos) << pixel;
}

// The arithmetic rewrites keep the SPIR-V valid on scalars and vectors of
// every width, float, int and uint alike.
TEST_F(Translate, ArithmeticRewritesKeepEveryTypeValid) {
    std::string body;
    for (const std::string n : {"1", "2", "3", "4"}) {
        const std::string f = "float" + n, i = "int" + n, u = "uint" + n;
        body += "    { " + f + " x = (" + f + ")c.x, y = (" + f + ")c.y; " + i + " a = (" + i +
                ")x; " + u + " b = (" + u + ")y;\n        r += (fmod(x, y) + x % y + min(x, y) + " +
                "max(x, y) + clamp(x, y, 1) + saturate(x) + step(x, y) + pow(x, y) + ldexp(x, " +
                "y) + ddy(x) + ddy_fine(y) + ddy_coarse(x) + f16tof32(f32tof16(x))).x;\n" +
                "        r += (" + f + "(a << b) + " + f + "(a >> b) + " + f + "(b >> a) + " + f +
                "(b / (b + 1)) + " + f + "(b % a) + " + f + "(a % a)).x; }\n";
    }
    Write("cbuffer C : register(b0) { float4 c; };\n"
          "float4 ps_main(float4 p : SV_Position) : SV_Target {\n    float r = 0;\n" +
          body + "    return r;\n}\n");
    // ps_5_0: ddy_fine and ddy_coarse are not in shader model 4.
    const std::string glsl = Glsl(ShaderStage::Pixel, Compile("ps_main", "ps_5_0"));
    EXPECT_NE(glsl.find("trunc("), std::string::npos) << glsl; // fmod as x - y * trunc(x / y)
    EXPECT_NE(glsl.find("-dFdy"), std::string::npos) << glsl;
}
// Literals reach the arithmetic rewrites in a file that also holds every
// place where HLSL needs a constant; the compile neither fails nor warns.
TEST_F(Translate, LiteralsReachRunTimeBesidePlacesThatNeedConstants) {
    Write("static const int N = 2;\nstatic const int M = N * 2;\n"
          "cbuffer C : register(b0) { float4 c[M]; };\n"
          "Texture2D<float4> t : register(t0);\nTexture2DMS<float4, 4> ms : register(t1);\n"
          "SamplerState s : register(s0);\nstruct V { float4 p : SV_Position; };\n"
          "float4 ps_main(V v) : SV_Target {\n"
          "    const int K = 3; float w[K]; V o = (V)0; float4 r = 0;\n"
          "    [unroll(M)] for (int i = 0; i < M; ++i) { w[i % K] = i; r += c[i]; }\n"
          "    switch (asint(c[0].x)) { case N: r += 1; break; default: break; }\n"
          "    r += t.Sample(s, v.p.xy, int2(1, 0)) + t.Load(int3(0, 0, 0), int2(1, 1)) +\n"
          "         ms.Load(int2(0, 0), 1) + o.p + w[1] + 0.5.xxxx;\n"
          "    return r + fmod(-3.5, 2) + lit(r.x, r.y, 2.0);\n}\n");
    const Compiled compiled = Compile("ps_main", "ps_4_0");
    EXPECT_EQ(compiled.messages, "");
    const std::string glsl = Glsl(ShaderStage::Pixel, compiled);
    EXPECT_NE(glsl.find("trunc("), std::string::npos) << glsl; // fmod at run time
    EXPECT_NE(glsl.find("exp2("), std::string::npos) << glsl;  // lit's power
}

// Structured, byte-address and texture buffers read what an empty slot
// holds: their reads are the constant 0, so no storage block is left for GL,
// where reading an unbound one is undefined.
TEST_F(Translate, UnboundBuffersLeaveNoStorageBlock) {
    Write("StructuredBuffer<float4> b; ByteAddressBuffer r; tbuffer T { float4 k; };\n"
          "float4 ps_main() : SV_Target\n"
          "{ uint n, s, m; b.GetDimensions(n, s); r.GetDimensions(m);\n"
          "  return b[3] + float4(1, n, s, m) + asfloat(r.Load(4)) + k; }\n");
    const std::string glsl = Glsl(ShaderStage::Pixel, Compile("ps_main", "ps_4_0"));
    EXPECT_EQ(glsl.find("buffer "), std::string::npos) << glsl;
}

} // namespace
