// D3DX11CompileFromFileA over glslang: one entry point of an HLSL file to
// SPIR-V, wrapped in this backend's bytecode blob (glsl/translate.h), and the
// reference-counted blob both the compiler and the device hand out.
//
// Results follow the Windows runtime: a missing file is 0x80070002 with no
// message blob; a compile error is E_FAIL with the compiler's text, one
// line per diagnostic in the Windows compiler's shape
// ("main.fx(8,5): error: ..."), in a NUL-terminated blob.
#include "platform/gl/spirv/clip_distances.h"
#include "platform/gl/compiler/server.h"
#include "platform/gl/hlsl/constant_layout.h"
#include "platform/gl/hlsl/crash_guards.h"
#include "platform/gl/hlsl/literals.h"
#include "platform/gl/hlsl/matrix_forms.h"
#include "platform/gl/hlsl/glslang_parse.h"
#include "platform/gl/hlsl/lexer.h"
#include "platform/gl/hlsl/entry_rewrites.h"
#include "platform/gl/hlsl/initializers.h"
#include "platform/gl/hlsl/call_forms.h"
#include "platform/gl/hlsl/statement_forms.h"
#include "platform/gl/hlsl/source_files.h"
#include "platform/gl/spirv/arithmetic.h"
#include "platform/gl/spirv/texture_offsets.h"
#include "platform/gl/spirv/split_arrays.h"
#include "platform/gl/spirv/unbound_textures.h"
#include "platform/gl/glsl/translate.h"

#include "platform/gl/compiler/diagnostics.h"
#include "platform/gl/hlsl/glslang_messages.h"
#include "platform/gl/hlsl/profile_check.h"
#include "platform/gl/hlsl/windows_rules.h"
#include "platform/gl/compiler/diagnostics.h"

#include <glslang/Include/intermediate.h>
#include <glslang/MachineIndependent/localintermediate.h>
#include <glslang/Public/ResourceLimits.h>
#include <glslang/Public/ShaderLang.h>
#include <glslang/SPIRV/GlslangToSpv.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

class Blob final : public ID3D10Blob {
  public:
    explicit Blob(std::vector<char> bytes) : bytes_(std::move(bytes)) {}
    uint32_t STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    uint32_t STDMETHODCALLTYPE Release() override {
        uint32_t left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    LPVOID STDMETHODCALLTYPE GetBufferPointer() override { return bytes_.data(); }
    SIZE_T STDMETHODCALLTYPE GetBufferSize() override { return bytes_.size(); }

  private:
    std::vector<char> bytes_;
    uint32_t refs_ = 1;
};

ID3D10Blob *TextBlob(const std::string &text) {
    return CreateBlob(text.c_str(), text.size() + 1); // keeps the NUL
}

bool StageFromProfile(const char *profile, EShLanguage &language, ShaderStage &stage) {
    if (std::strncmp(profile, "vs_", 3) == 0) {
        language = EShLangVertex;
        stage    = ShaderStage::Vertex;
    } else if (std::strncmp(profile, "gs_", 3) == 0) {
        language = EShLangGeometry;
        stage    = ShaderStage::Geometry;
    } else if (std::strncmp(profile, "ps_", 3) == 0) {
        language = EShLangFragment;
        stage    = ShaderStage::Pixel;
    } else {
        return false;
    }
    return true;
}

ShaderStage StageOf(EShLanguage language) {
    if (language == EShLangVertex) return ShaderStage::Vertex;
    return language == EShLangGeometry ? ShaderStage::Geometry : ShaderStage::Pixel;
}

// glslang's tables are built once per process: the compile server's, or
// this one's where no server can be started.
bool InitialiseGlslang() {
    static const bool initialised = glslang::InitializeProcess();
    return initialised;
}

// Compiles source to SPIR-V. Returns false with the errors in diagnostics;
// on success diagnostics holds any warnings.
bool CompileHlsl(const std::string &original, const char *fileName, const char *entryPoint,
                 const char *profile, EShLanguage language, std::vector<unsigned> &spirv,
                 uint32_t &packedRegisters, Diagnostics &diagnostics) {
    if (!InitialiseGlslang()) {
        diagnostics.Error(fileName, 0, 0, "the HLSL compiler failed to initialise");
        return false;
    }
    // Includes, macros and #if first, so the rewrites see the code that
    // counts; the parses below read the result.
    std::string source;
    IncludedFiles included;
    if (!PreprocessHlsl(original, fileName, language, kMessages, source, included, diagnostics))
        return false;
    // Lexed once: each pass below keeps the tokens those of the text it leaves.
    LexedHlsl lexed = LexHlsl(source, fileName);
    BlankEffectSyntax(source, lexed);
    KeepLastEntryDefinition(source, lexed, entryPoint);
    if (language == EShLangGeometry) {
        BlankUnusedStreamFunctions(source, lexed, entryPoint);
        RenameClipCullSemantics(source, lexed); // restored in the SPIR-V below
    }
    RewriteScalarCalls(source, lexed);
    RewriteStatementForms(source, lexed);
    if (!RewriteMatrixForms(source, lexed, diagnostics)) return false;
    ShapeInitializers(source, lexed);
    if (!SafeToParse(source, lexed, fileName, original, entryPoint, language, diagnostics)) {
        // why it did not parse
        CheckProfile(original, fileName, included, nullptr, entryPoint, profile, diagnostics);
        return false;
    }

    // Literals read at run time, so that Direct3D's arithmetic applies to
    // them; where that text does not parse, glslang works them out itself.
    ReplaceLit(source, lexed);
    std::string runTime = source;
    ReadLiteralsAtRunTime(runTime, lexed);
    const char *text = runTime.c_str();
    int length       = static_cast<int>(runTime.size());
    auto shader      = std::make_unique<glslang::TShader>(language);
    SetUpShader(*shader, text, length, fileName, entryPoint, language);
    bool ok = shader->parse(GetDefaultResources(), 100, false, kMessages);
    if (!ok && runTime != source) {
        text   = source.c_str();
        length = static_cast<int>(source.size());
        shader = std::make_unique<glslang::TShader>(language);
        SetUpShader(*shader, text, length, fileName, entryPoint, language);
        ok = shader->parse(GetDefaultResources(), 100, false, kMessages);
    }
    // glslang only warns about a missing entry point and compiles nothing,
    // or fails on what only an entry point may do (a stream's Append). A
    // name that the source never calls or defines is the cause, said first.
    bool found = shader->getIntermediate() && shader->getIntermediate()->getNumEntryPoints() > 0;
    const bool missing = !found && (ok || !NamesFunction(source, lexed.tokens, entryPoint));
    if (missing)
        diagnostics.Error(fileName, 0, 0,
                          "entry point '" + std::string(entryPoint) + "' not found");
    ReadGlslangMessages(shader->getInfoLog(), fileName, original, diagnostics);
    if (missing) return false;
    // What the profile's shader model lacks, judged on the parsed stage.
    if (!CheckProfile(original, fileName, included, ok ? shader->getIntermediate() : nullptr,
                      entryPoint, profile, diagnostics) ||
        !ok)
        return false;
    // What the Windows compiler refuses and glslang accepts; lexed is still
    // source's, the run-time literals having gone into a copy.
    CheckWindowsRules(original, source, lexed, fileName, profile, *shader->getIntermediate(),
                      diagnostics);
    if (diagnostics.HasErrors()) return false;

    PlaceGlobals(*shader->getIntermediate());
    glslang::TProgram program;
    program.addShader(shader.get());
    if (!program.link(kMessages) || !program.mapIO()) {
        ReadGlslangMessages(program.getInfoLog(), fileName, original, diagnostics);
        return false;
    }
    if (!PackoffsetRegisters(*program.getIntermediate(language), fileName, original,
                             packedRegisters, diagnostics))
        return false;

    // The arithmetic rewrites go in before glslang's optimizer, which works
    // out operations on known values with the processor's rules, not
    // Direct3D's ((int)x where x holds 3e9); HLSL needs the optimizer's
    // legalization after them to give valid SPIR-V.
    const glslang::TIntermediate &intermediate = *program.getIntermediate(language);
    glslang::SpvOptions options;
    options.disableOptimizer = true;
    spv::SpvBuildLogger logger;
    glslang::GlslangToSpv(intermediate, spirv, &logger, &options);
    std::string error;
    // The split arrays first: an array of clip distances is one semantic
    // index per element.
    if (!spirv.empty() && MendSplitStageArrays(spirv, error) &&
        (language != EShLangGeometry || RestoreClipCullDistances(spirv, error)) &&
        ApplySpirvFixes(spirv, StageOf(language), error) && ZeroUnboundTextureQueries(spirv, error))
        glslang::SpirvToolsTransform(intermediate, spirv, &logger, &options);
    else if (error.empty())
        error = "no SPIR-V was generated";
    ReadGlslangMessages(logger.getAllMessages(), fileName, original, diagnostics);
    if (!error.empty()) {
        diagnostics.Error(fileName, 0, 0, error);
        spirv.clear();
        return false;
    }
    // MakeOffsetsConstant still writes its message in glslang's shape, so it
    // is read as glslang's are until it records into diagnostics itself.
    std::string offsets;
    const bool constant = MakeOffsetsConstant(intermediate, fileName, spirv, offsets);
    ReadGlslangMessages(offsets, fileName, original, diagnostics);
    if (!constant) {
        spirv.clear();
        return false;
    }
    return true;
}

// Compiles in the compile server (server.h); where none can be
// started, in this process.
bool CompileIsolated(const std::string &source, const char *fileName, const char *entryPoint,
                     const char *profile, EShLanguage language, std::vector<unsigned> &spirv,
                     uint32_t &packedRegisters, Diagnostics &diagnostics) {
    CompileRequest request;
    request.language   = static_cast<uint32_t>(language);
    request.fileName   = fileName;
    request.entryPoint = entryPoint;
    request.profile    = profile;
    request.source     = source;
    char folder[4096];
    if (getcwd(folder, sizeof folder)) request.workingDirectory = folder;
    CompileReply reply;
#ifdef HOTFX_COMPILE_IN_PROCESS
    // The fuzzing build wants to see the library's crashes itself.
    CompileInThisProcess(request, reply);
#else
    if (!CompileInServer(request, reply)) CompileInThisProcess(request, reply);
#endif
    spirv.assign(reply.spirv.begin(), reply.spirv.end());
    packedRegisters = reply.packedRegisters;
    diagnostics.items.insert(diagnostics.items.end(),
                             std::make_move_iterator(reply.diagnostics.items.begin()),
                             std::make_move_iterator(reply.diagnostics.items.end()));
    return reply.ok;
}

} // namespace

void CompileInThisProcess(const CompileRequest &request, CompileReply &reply) {
    std::vector<unsigned> spirv;
    try {
        reply.ok = CompileHlsl(request.source, request.fileName.c_str(), request.entryPoint.c_str(),
                               request.profile.c_str(), static_cast<EShLanguage>(request.language),
                               spirv, reply.packedRegisters, reply.diagnostics);
    } catch (const std::bad_alloc &) {
        reply.ok          = false;
        reply.diagnostics = Diagnostics();
        reply.diagnostics.Error(request.fileName, 0, 0, "out of memory while compiling");
    }
    reply.spirv.assign(spirv.begin(), spirv.end());
}

ID3D10Blob *CreateBlob(const void *data, size_t size) {
    try {
        const char *bytes = static_cast<const char *>(data);
        return new Blob(std::vector<char>(bytes, bytes + (bytes ? size : 0)));
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

HRESULT WINAPI D3DX11CompileFromFileA(LPCSTR srcFile, const D3D10_SHADER_MACRO *, LPD3D10INCLUDE,
                                      LPCSTR functionName, LPCSTR profile, UINT, UINT,
                                      ID3DX11ThreadPump *, ID3D10Blob **shaderOut,
                                      ID3D10Blob **errorMsgs, HRESULT *hresult) {
    if (shaderOut) *shaderOut = nullptr;
    if (errorMsgs) *errorMsgs = nullptr;

    HRESULT hr = S_OK;
    Diagnostics diagnostics;
    std::vector<unsigned> spirv;
    uint32_t packedRegisters = 0;
    EShLanguage language     = EShLangVertex;
    ShaderStage stage        = ShaderStage::Vertex;

    try {
        std::string source;
        if (!srcFile || !functionName || !profile || !shaderOut) {
            hr = E_INVALIDARG;
        } else if (!StageFromProfile(profile, language, stage)) {
            diagnostics.Error(srcFile, 0, 0,
                              "unsupported profile '" + std::string(profile) +
                                  "' (vs_*, gs_* and ps_* are supported)");
            hr = E_FAIL;
        } else if ((hr = ReadSource(srcFile, source, diagnostics)) == S_OK) {
            if (!CompileIsolated(source, srcFile, functionName, profile, language, spirv,
                                 packedRegisters, diagnostics))
                hr = E_FAIL;
        }
    } catch (const std::bad_alloc &) {
        hr = E_OUTOFMEMORY;
    }

    if (hr == S_OK) {
        std::vector<uint32_t> words = {kBytecodeMagic, kBytecodeVersion,
                                       static_cast<uint32_t>(stage), packedRegisters};
        words.insert(words.end(), spirv.begin(), spirv.end());
        *shaderOut = CreateBlob(words.data(), words.size() * sizeof(uint32_t));
        if (!*shaderOut) hr = E_OUTOFMEMORY;
    }
    // Warnings come back with a successful compile too, as on Windows.
    if (errorMsgs && !diagnostics.items.empty()) {
        try {
            *errorMsgs = TextBlob(FormatDiagnostics(diagnostics));
        } catch (const std::bad_alloc &) {
            *errorMsgs = nullptr;
        }
    }
    if (hresult) *hresult = hr;
    return hr;
}
