// Shader compilation, the scene load step by step, and the scene's release.
#include "harness.h"

#include <tuple>

class Scene : public Behaviour {
  protected:
    void SetUp() override {
        Behaviour::SetUp();
        ASSERT_EQ(InitDevice(fake::NewWindow(), 1024, 768), 0);
        fake::ClearCalls();
    }
};

// The accessors a shader creation calls on a blob carry no order of their own
// (argument evaluation order is the compiler's), so sequences leave them out.
static std::vector<std::string> WithoutAccessors() {
    std::vector<std::string> kept;
    for (const std::string &call : fake::Calls())
        if (CallName(call) != "GetBufferPointer" && CallName(call) != "GetBufferSize")
            kept.push_back(call);
    return kept;
}

TEST_F(Scene, LoadCompilesCreatesAndReleasesTheBytecodeInOrder) {
    LoadScene();
    EXPECT_THAT(
        WithoutAccessors(),
        ElementsAre(
            "D3DX11CompileFromFileA(main.fx, null, null, vs_main, vs_4_0, 0x800, 0x0, null, "
            "&null, &null, null) -> vsblob#1",
            "D3DX11CompileFromFileA(main.fx, null, null, gs_main, gs_4_0, 0x800, 0x0, null, "
            "&null, &null, null) -> gsblob#1",
            "D3DX11CompileFromFileA(main.fx, null, null, ps_main, ps_4_0, 0x800, 0x0, null, "
            "&null, &null, null) -> psblob#1",
            "device#1.CreateVertexShader(vsblob#1, null, &null) -> vs#1",
            "device#1.CreateGeometryShader(gsblob#1, null, &null) -> gs#1",
            "device#1.CreatePixelShader(psblob#1, null, &null) -> ps#1", "vsblob#1.Release()",
            "gsblob#1.Release()", "psblob#1.Release()",
            "device#1.CreateRasterizerState({fill=3 cull=1 ccw=0 bias=0 clamp=0 slope=0 clip=1 "
            "scissor=0 multisample=0 aaline=0}, &null) -> rs#1",
            "device#1.CreateBuffer({width=16384 usage=0 bind=0x4 cpu=0 misc=0 stride=0}, null, "
            "&null) -> buffer#1"));
    // Each line is flushed as it is printed.
    EXPECT_THAT(fake::OutputWrites(), ElementsAre("Loaded.\n", "Obj Initialize.\n"));
    EXPECT_THAT(fake::DebugOutput(), IsEmpty());
}

TEST_F(Scene, CreateBufferTakesBindFlagsThenSizeAndPassesTheInitialData) {
    const char bytes[64]        = {};
    D3D11_SUBRESOURCE_DATA init = {bytes, 0, 0};
    ID3D11Buffer *buffer        = nullptr;
    EXPECT_EQ(D3DXCreateBuffer(0x8, 64, &buffer, &init), 0);
    EXPECT_THAT(fake::Calls(), ElementsAre("device#1.CreateBuffer({width=64 usage=0 bind=0x8 cpu=0 "
                                           "misc=0 stride=0}, data, &null) -> buffer#1"));
    ReleaseSlot(buffer);
}

static bool operator==(const ParticleGenerator &p, const ParticleGenerator &q) {
    return std::tie(p.a, p.c, p.d) == std::tie(q.a, q.c, q.d);
}

TEST_F(Scene, ParticlesAreSeededOnceBetweenLoadedAndObjInitialize) {
    const ParticleGenerator before = generator;
    std::vector<std::pair<std::string, ParticleGenerator>> printed;
    fake::OnOutput([&](const std::string &text) { printed.push_back({text, generator}); });
    LoadScene();
    const ParticleGenerator after = generator;
    const auto seeded             = ParticleBytes();

    ASSERT_EQ(printed.size(), 2u);
    EXPECT_EQ(printed[0].first, "Loaded.\n");
    EXPECT_TRUE(printed[0].second == before);
    EXPECT_EQ(printed[1].first, "Obj Initialize.\n");
    EXPECT_TRUE(printed[1].second == after);
    // Exactly one fill from where the generator stood.
    generator = before;
    InitParticles();
    EXPECT_EQ(ParticleBytes(), seeded);
    EXPECT_TRUE(generator == after);
}

struct Step {
    int number;
    const char *call;  // the failing function or method
    const char *entry; // the entry point, for a compile step
    HRESULT code;
    const char *line;
    std::vector<std::string> leftovers; // in the order the next load releases them
};

class StepFailure : public Scene, public testing::WithParamInterface<Step> {};

TEST_P(StepFailure, ReportsStopsAndLeavesItsObjectsToTheNextLoad) {
    const Step &step               = GetParam();
    const std::string compilerText = "main.fx(4,5): error X3004: undeclared identifier 'q'";
    LoadScene(); // a good scene, drawn once, so there is state to keep
    RenderFrame();
    const auto image = ImageBytes(), seeded = ParticleBytes();
    fake::ClearOutput();

    if (step.entry)
        fake::ScriptCompile(step.entry, {step.code, compilerText + '\0', ""});
    else
        fake::Fail(step.call, step.code);
    LoadScene();

    std::vector<std::string> reports = {step.line};
    if (step.entry) reports.insert(reports.begin(), "ERROR : " + compilerText + "\n");
    EXPECT_THAT(fake::OutputWrites(), ElementsAreArray(reports));
    EXPECT_EQ(fake::DebugOutput(),
              step.entry ? std::vector<std::string>{compilerText} : std::vector<std::string>{});
    std::vector<std::string> alive = kDeviceObjects;
    alive.insert(alive.end(), step.leftovers.begin(), step.leftovers.end());
    EXPECT_THAT(fake::Alive(), testing::UnorderedElementsAreArray(alive));
    // The image (and Time) is cleared only once step 10 is reached; the
    // particles are reseeded only by a load that succeeds.
    EXPECT_EQ(ImageBytes(),
              step.number == 130 ? std::vector<unsigned char>(sizeof constantImage) : image);
    EXPECT_EQ(ParticleBytes(), seeded);

    // Every frame now prints the five slots and draws nothing.
    const auto stopped = ImageBytes();
    fake::ClearOutput();
    fake::ClearCalls();
    RenderFrame();
    EXPECT_EQ(fake::Output(), GateLines());
    EXPECT_THAT(fake::Calls(), ElementsAre("GetAsyncKeyState(0x74)"));
    EXPECT_EQ(ImageBytes(), stopped);
    EXPECT_EQ(ParticleBytes(), seeded);

    // The next load first releases what the failed one left.
    if (step.entry)
        fake::ScriptCompile(step.entry, {});
    else
        fake::Fail(step.call, 0);
    fake::ClearOutput();
    fake::ClearCalls();
    LoadScene();
    std::vector<std::string> releases;
    for (const std::string &name : step.leftovers)
        releases.push_back(name + ".Release()");
    const auto &calls = fake::Calls();
    ASSERT_GT(calls.size(), releases.size());
    EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + releases.size()), releases);
    EXPECT_EQ(CallName(calls[releases.size()]), "D3DX11CompileFromFileA");
    EXPECT_EQ(fake::Output(), "Loaded.\nObj Initialize.\n");
    ReleaseScene();
    ReleaseDevice();
    EXPECT_THAT(fake::Alive(), IsEmpty());
}

// The first load made vsblob#1 ... buffer#1; the failing one is the second.
INSTANTIATE_TEST_SUITE_P(
    Steps, StepFailure,
    testing::Values(Step{112,
                         "D3DX11CompileFromFileA",
                         "vs_main",
                         kFail,
                         "ERROR : scene : 112 0x80004005 : CompileShaderFromFile VS\n",
                         {}},
                    Step{113,
                         "D3DX11CompileFromFileA",
                         "gs_main",
                         kFail,
                         "ERROR : scene : 113 0x80004005 : CompileShaderFromFile GS\n",
                         {"vsblob#2"}},
                    Step{114,
                         "D3DX11CompileFromFileA",
                         "ps_main",
                         kFail,
                         "ERROR : scene : 114 0x80004005 : CompileShaderFromFile PS\n",
                         {"gsblob#2", "vsblob#2"}},
                    Step{115,
                         "CreateVertexShader",
                         nullptr,
                         kFail,
                         "ERROR : scene : 115 0x80004005 : CreateVertexShader\n",
                         {"psblob#2", "gsblob#2", "vsblob#2"}},
                    Step{116,
                         "CreateGeometryShader",
                         nullptr,
                         kFail,
                         "ERROR : scene : 116 0x80004005 : CreateGeometryShader\n",
                         {"psblob#2", "gsblob#2", "vsblob#2", "vs#2"}},
                    Step{117,
                         "CreatePixelShader",
                         nullptr,
                         kFail,
                         "ERROR : scene : 117 0x80004005 : CreatePixelShader\n",
                         {"psblob#2", "gsblob#2", "vsblob#2", "gs#2", "vs#2"}},
                    Step{127,
                         "CreateRasterizerState",
                         nullptr,
                         kFail,
                         "ERROR : scene : 127 0x80004005 : CreateRasterizerState\n",
                         {"ps#2", "gs#2", "vs#2"}},
                    // Any nonzero result fails a step, a success code too; its object stays.
                    Step{127,
                         "CreateRasterizerState",
                         nullptr,
                         1,
                         "ERROR : scene : 127 0x00000001 : CreateRasterizerState\n",
                         {"rs#2", "ps#2", "gs#2", "vs#2"}},
                    Step{130,
                         "CreateBuffer",
                         nullptr,
                         static_cast<HRESULT>(0x8007000E),
                         "ERROR : scene : 130 0x8007000E : D3DXCreateBuffer : pConstant\n",
                         {"rs#2", "ps#2", "gs#2", "vs#2"}}),
    [](const testing::TestParamInfo<Step> &info) {
        return std::to_string(info.param.number) + (info.param.code > 0 ? "_success_code" : "");
    });

struct CompilerCase {
    const char *name;
    const char *entry;
    fake::Compile result;
    const char *output;
    std::vector<std::string> debug;
};

class CompilerMessages : public Scene, public testing::WithParamInterface<CompilerCase> {};

TEST_P(CompilerMessages, AreShownOnlyForAFailureAndWithinTheBlob) {
    const CompilerCase &c = GetParam();
    fake::ScriptCompile(c.entry, c.result);
    LoadScene();
    EXPECT_EQ(fake::Output(), c.output);
    EXPECT_THAT(fake::DebugOutput(), ElementsAreArray(c.debug));
    for (const std::string &name : fake::Alive())
        EXPECT_EQ(name.find("msgblob"), std::string::npos) << name << " was not released";
    ReleaseScene();
    ReleaseDevice();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CompilerMessages,
    testing::Values(
        CompilerCase{
            "warnings",
            "gs_main",
            {0, std::string("main.fx(2,1): warning X3206: implicit truncation") + '\0', "DXBC"},
            "Loaded.\nObj Initialize.\n",
            {}},
        CompilerCase{"no_message_blob",
                     "ps_main",
                     {static_cast<HRESULT>(0x80070002), std::nullopt, ""},
                     "ERROR : scene : 114 0x80070002 : CompileShaderFromFile PS\n",
                     {}},
        // The compiler's text need not end with a NUL: never read past the blob.
        CompilerCase{"unterminated",
                     "vs_main",
                     {kFail, "main.fx(1,1): error X3000: syntax error", ""},
                     "ERROR : main.fx(1,1): error X3000: syntax error\n"
                     "ERROR : scene : 112 0x80004005 : CompileShaderFromFile VS\n",
                     {"main.fx(1,1): error X3000: syntax error"}},
        CompilerCase{"empty_blob",
                     "vs_main",
                     {kFail, "", ""},
                     "ERROR : \nERROR : scene : 112 0x80004005 : CompileShaderFromFile VS\n",
                     {""}},
        // A success code with messages is a failed step, but not a failed compile.
        CompilerCase{"success_code",
                     "vs_main",
                     {1, std::string("warning") + '\0', "DXBC"},
                     "ERROR : scene : 112 0x00000001 : CompileShaderFromFile VS\n",
                     {}}),
    [](const testing::TestParamInfo<CompilerCase> &info) { return std::string(info.param.name); });

TEST_F(Scene, ReleaseSceneReleasesEverySlotOnceInItsOrder) {
    SceneObjects &s          = sceneObjects;
    ID3D11Device *d          = deviceObjects.d3ddevice;
    const char *fx           = "main.fx";
    D3D11_RASTERIZER_DESC rs = {};
    D3DX11CompileFromFileA(fx, nullptr, nullptr, "vs_main", "vs_4_0", 0, 0, nullptr, &s.vsblob,
                           nullptr, nullptr);
    D3DX11CompileFromFileA(fx, nullptr, nullptr, "gs_main", "gs_4_0", 0, 0, nullptr, &s.gsblob,
                           nullptr, nullptr);
    D3DX11CompileFromFileA(fx, nullptr, nullptr, "ps_main", "ps_4_0", 0, 0, nullptr, &s.psblob,
                           nullptr, nullptr);
    d->CreateVertexShader(nullptr, 0, nullptr, &s.vshader);
    d->CreateGeometryShader(nullptr, 0, nullptr, &s.gshader);
    d->CreatePixelShader(nullptr, 0, nullptr, &s.pshader);
    d->CreateRasterizerState(&rs, &s.pRSStage);
    D3DXCreateBuffer(D3D11_BIND_CONSTANT_BUFFER, 16, &s.pConstant, nullptr);
    fake::ClearCalls();

    ReleaseScene();
    EXPECT_THAT(Releases(), ElementsAre("buffer#1", "rs#1", "psblob#1", "gsblob#1", "vsblob#1",
                                        "ps#1", "gs#1", "vs#1"));
    EXPECT_EQ(fake::Alive(), kDeviceObjects);
    ReleaseScene(); // every slot is null now
    EXPECT_EQ(fake::Calls().size(), 8u);
    ReleaseDevice();
}
