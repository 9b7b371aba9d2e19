// D3DX11CompileFromFileA over glslang: one entry point of an HLSL file to
// SPIR-V, wrapped in this backend's bytecode blob (translate.h), and the
// reference-counted blob both the compiler and the device hand out.
//
// Results follow the Windows runtime: a missing file is 0x80070002 with no
// message blob; a compile error is E_FAIL with the compiler's text, one
// line per diagnostic in the Windows compiler's shape
// ("main.fx(8,5): error: ..."), in a NUL-terminated blob.
#include "platform/gl/compile_server.h"
#include "platform/gl/hlsl_rewrites.h"
#include "platform/gl/source_files.h"
#include "platform/gl/spirv_fixes.h"
#include "platform/gl/spirv_signature.h"
#include "platform/gl/spirv_unbound.h"
#include "platform/gl/translate.h"

#include "platform/gl/messages.h"
#include "platform/gl/profile_check.h"

#include <glslang/Include/intermediate.h>
#include <glslang/MachineIndependent/localintermediate.h>
#include <glslang/Public/ResourceLimits.h>
#include <glslang/Public/ShaderLang.h>
#include <glslang/SPIRV/GlslangToSpv.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include <strings.h>
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

// Whether name appears in the source as an identifier followed by "(".
bool NamesFunction(const std::string &source, const std::string &name) {
    auto identifier = [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
    };
    for (size_t at = source.find(name); at != std::string::npos; at = source.find(name, at + 1)) {
        size_t end = at + name.size();
        if (at > 0 && identifier(source[at - 1])) continue;
        while (end < source.size() && std::isspace(static_cast<unsigned char>(source[end])))
            ++end;
        if (end < source.size() && source[end] == '(') return true;
    }
    return false;
}

// glslang's tables are built once per process: the compile server's, or
// this one's where no server can be started.
bool InitialiseGlslang() {
    static const bool initialised = glslang::InitializeProcess();
    return initialised;
}

const EShMessages kMessages =
    static_cast<EShMessages>(EShMsgSpvRules | EShMsgVulkanRules | EShMsgReadHlsl);

// glslang keeps the addresses of text, length and fileName, not copies:
// they must outlive the parse.
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

// glslang 12's HLSL front end follows null pointers on some malformed
// sources instead of reporting them, which would end the whole program. The
// forms a user meets while typing are refused first, with a message of our
// own, by the checks below; tests/robust/crashes keeps forms they miss.

bool IsIdentifierChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

// Checks the text as the preprocessor leaves it (so comments and code that
// #if leaves out do not count) for
// - a '[' that something other than ']' closes or ends: "float a[2)",
//   "float a[2;" (in a source that parses, nothing does);
// - a constant incremented or decremented: "k < 4 ++k", a for loop short of
//   a ';'.
bool PreprocessedTextSafe(const std::string &output, const char *fileName, std::string &log) {
    std::string where = "ERROR: " + std::string(fileName) + ":";
    // The brackets not yet closed, innermost last, with their lines.
    std::vector<std::pair<char, int>> open;
    int line = 1;
    for (size_t at = 0; at <= output.size(); ++at) {
        const char c        = at < output.size() ? output[at] : '\0';
        const bool inSquare = !open.empty() && open.back().first == '[';
        if (inSquare && (c == ')' || c == '}' || c == '{' || c == ';' || c == '\0')) {
            log = where + std::to_string(open.back().second) + ": '[' : no matching ']'\n";
            return false;
        }
        const bool tokenStart = at == 0 || !IsIdentifierChar(output[at - 1]);
        if ((at == 0 || output[at - 1] == '\n') && c == '#') {
            // A directive line: "#line N" says which line the next one is,
            // '#line N "name"' also which (included) file.
            const size_t end = output.find('\n', at);
            if (output.compare(at, 6, "#line ") == 0) {
                line                 = std::atoi(&output[at + 6]) - 1;
                const std::string it = output.substr(at, end == std::string::npos ? end : end - at);
                const size_t quote   = it.find('"');
                if (quote != std::string::npos && it.rfind('"') > quote)
                    where = "ERROR: " + it.substr(quote + 1, it.rfind('"') - quote - 1) + ":";
            }
            at = end == std::string::npos ? output.size() - 1 : end - 1;
        } else if (c == '\n') {
            ++line;
        } else if (c == '"') {
            const size_t end = output.find_first_of("\"\n", at + 1);
            if (end == std::string::npos) break;
            at = output[end] == '"' ? end : end - 1;
        } else if (c == '(' || c == '[' || c == '{') {
            open.emplace_back(c, line);
        } else if ((c == ')' || c == ']' || c == '}') && !open.empty()) {
            open.pop_back();
        } else if (tokenStart &&
                   (std::isdigit(static_cast<unsigned char>(c)) ||
                    (c == '.' && std::isdigit(static_cast<unsigned char>(
                                     at + 1 < output.size() ? output[at + 1] : 0))))) {
            size_t end = at;
            while (end < output.size() && (IsIdentifierChar(output[end]) || output[end] == '.' ||
                                           ((output[end] == '+' || output[end] == '-') &&
                                            (output[end - 1] == 'e' || output[end - 1] == 'E'))))
                ++end;
            const size_t next = output.find_first_not_of(" \t\r\n", end);
            if (next != std::string::npos &&
                (output.compare(next, 2, "++") == 0 || output.compare(next, 2, "--") == 0)) {
                log = where + std::to_string(line) + ": '" + output.substr(next, 2) +
                      "' : a constant cannot be changed\n";
                return false;
            }
            at = end - 1;
        }
    }
    return true;
}

// Whether type, or a member of it, carries SV_ClipDistance or SV_CullDistance.
bool HoldsClipOrCullDistance(const glslang::TType &type) {
    // Outside an entry point the semantic is only recorded, not yet mapped.
    const glslang::TQualifier &qualifier = type.getQualifier();
    for (const auto builtIn : {qualifier.builtIn, qualifier.declaredBuiltIn})
        if (builtIn == glslang::EbvClipDistance || builtIn == glslang::EbvCullDistance) return true;
    if (qualifier.semanticName)
        for (const char *prefix : {"SV_CLIPDISTANCE", "SV_CULLDISTANCE"})
            if (strncasecmp(qualifier.semanticName, prefix, std::strlen(prefix)) == 0) return true;
    if (type.isStruct())
        for (const glslang::TTypeLoc &member : *type.getStruct())
            if (HoldsClipOrCullDistance(*member.type)) return true;
    return false;
}

// Finds, among the entry point's parameters, one glslang crashes on when it
// makes the function a stage: one with no name, or in a geometry stage a
// structure taken as input but not as an array of vertices, or an input
// holding clip or cull distances.

class UnsafeEntryParameter : public glslang::TIntermTraverser {
  public:
    UnsafeEntryParameter(const std::string &entryPoint, EShLanguage language)
        : prefix_(entryPoint + "("), language_(language) {}
    bool visitAggregate(glslang::TVisit, glslang::TIntermAggregate *node) override {
        if (node->getOp() != glslang::EOpFunction) return true;
        if (node->getName().compare(0, prefix_.size(), prefix_.c_str()) != 0) return false;
        for (TIntermNode *child : node->getSequence()) {
            glslang::TIntermAggregate *parameters = child->getAsAggregate();
            if (!parameters || parameters->getOp() != glslang::EOpParameters) continue;
            for (TIntermNode *parameter : parameters->getSequence()) {
                glslang::TIntermSymbol *symbol = parameter->getAsSymbolNode();
                if (!symbol || found) continue;
                const glslang::TType &type = symbol->getType();
                const auto storage         = type.getQualifier().storage;
                if (symbol->getName().empty()) {
                    found  = symbol;
                    name   = prefix_.substr(0, prefix_.size() - 1);
                    reason = "every parameter of an entry point needs a name";
                } else if (language_ == EShLangGeometry && type.isStruct() && !type.isArray() &&
                           (storage == glslang::EvqIn || storage == glslang::EvqInOut)) {
                    found  = symbol;
                    name   = symbol->getName().c_str();
                    reason = std::string("a geometry stage input must be an array of the ") +
                             "primitive's vertices, for example 'point " +
                             type.getTypeName().c_str() + " " + symbol->getName().c_str() + "[1]'";
                } else if (language_ == EShLangGeometry && HoldsClipOrCullDistance(type) &&
                           (storage == glslang::EvqIn || storage == glslang::EvqInOut)) {
                    // Windows compiles it; glslang 12 follows a null pointer
                    // on any geometry-stage input with these semantics.
                    found  = symbol;
                    name   = symbol->getName().c_str();
                    reason = "a geometry stage cannot read SV_ClipDistance or SV_CullDistance "
                             "from its input on this backend (glslang crashes on it); leave the "
                             "semantic out of the input and compute the distance here";
                }
            }
        }
        return false;
    }
    glslang::TIntermSymbol *found = nullptr;
    std::string name, reason; // what to quote, and what is wrong with it

  private:
    std::string prefix_;
    EShLanguage language_;
};

// Runs the checks above on the preprocessor's text: the text itself, then
// the entry point's parameters in a parse with no entry point, where every
// function stays an ordinary one. A source that does not parse at all is
// refused with the parser's messages: glslang would meet the entry point
// before the error.
bool SafeToParse(const std::string &source, const char *fileName, const char *entryPoint,
                 EShLanguage language, std::string &log) {
    const char *text = source.c_str();
    int length       = static_cast<int>(source.size());
    if (!PreprocessedTextSafe(source, fileName, log)) return false;
    if (!NamesFunction(source, entryPoint)) return true;

    glslang::TShader shader(language);
    SetUpShader(shader, text, length, fileName, "hotfx_no_entry_point", language);
    shader.parse(GetDefaultResources(), 100, false, kMessages);
    glslang::TIntermediate *tree = shader.getIntermediate();
    if (!tree || !tree->getTreeRoot()) {
        log = shader.getInfoLog();
        return false;
    }
    UnsafeEntryParameter finder(entryPoint, language);
    tree->getTreeRoot()->traverse(&finder);
    if (!finder.found) return true;
    log = "ERROR: " + std::string(fileName) + ":" + std::to_string(finder.found->getLoc().line) +
          ": '" + finder.name + "' : " + finder.reason + "\n";
    return false;
}

// Compiles source to SPIR-V. Returns false with the compiler's text in log;
// on success log holds any warnings.
bool CompileHlsl(const std::string &original, const char *fileName, const char *entryPoint,
                 const char *profile, EShLanguage language, std::vector<unsigned> &spirv,
                 std::string &log) {
    if (!InitialiseGlslang()) {
        log = "ERROR: the HLSL compiler failed to initialise\n";
        return false;
    }
    // Includes, macros and #if first, so the rewrites see the code that
    // counts; the parses below read the result.
    std::string source;
    if (!PreprocessHlsl(original, fileName, language, kMessages, source, log)) return false;
    BlankEffectSyntax(source);
    KeepLastEntryDefinition(source, entryPoint);
    if (language == EShLangGeometry) BlankUnusedStreamFunctions(source, entryPoint);
    if (!SafeToParse(source, fileName, entryPoint, language, log)) {
        CheckProfile(original, fileName, nullptr, entryPoint, profile, log); // why it did not parse
        return false;
    }

    const char *text = source.c_str();
    int length       = static_cast<int>(source.size());
    glslang::TShader shader(language);
    SetUpShader(shader, text, length, fileName, entryPoint, language);

    bool ok = shader.parse(GetDefaultResources(), 100, false, kMessages);
    log     = shader.getInfoLog();
    // glslang only warns about a missing entry point and compiles nothing,
    // or fails on what only an entry point may do (a stream's Append). A
    // name that the source never calls or defines is the cause, said first.
    bool found = shader.getIntermediate() && shader.getIntermediate()->getNumEntryPoints() > 0;
    if (!found && (ok || !NamesFunction(source, entryPoint))) {
        log = "ERROR: " + std::string(fileName) + ": entry point '" + entryPoint + "' not found\n" +
              log;
        return false;
    }
    // What the profile's shader model lacks, judged on the parsed stage.
    if (!CheckProfile(original, fileName, ok ? shader.getIntermediate() : nullptr, entryPoint,
                      profile, log) ||
        !ok)
        return false;

    glslang::TProgram program;
    program.addShader(&shader);
    if (!program.link(kMessages) || !program.mapIO()) {
        log += program.getInfoLog();
        return false;
    }

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
    if (!spirv.empty() && MendSplitStageArrays(spirv, error) &&
        ApplySpirvFixes(spirv, StageOf(language), error) && ZeroUnboundTextureQueries(spirv, error))
        glslang::SpirvToolsTransform(intermediate, spirv, &logger, &options);
    else if (error.empty())
        error = "no SPIR-V was generated";
    std::string spvMessages = logger.getAllMessages();
    if (!error.empty()) {
        log += spvMessages + "ERROR: " + std::string(fileName) + ": " + error + "\n";
        spirv.clear();
        return false;
    }
    log += spvMessages;
    return true;
}

// Compiles in the compile server (compile_server.h); where none can be
// started, in this process.
bool CompileIsolated(const std::string &source, const char *fileName, const char *entryPoint,
                     const char *profile, EShLanguage language, std::vector<unsigned> &spirv,
                     std::string &log) {
    CompileRequest request;
    request.language   = static_cast<uint32_t>(language);
    request.fileName   = fileName;
    request.entryPoint = entryPoint;
    request.profile    = profile;
    request.source     = source;
    CompileReply reply;
#ifdef HOTFX_COMPILE_IN_PROCESS
    // The fuzzing build wants to see the library's crashes itself.
    CompileInThisProcess(request, reply);
#else
    if (!CompileInServer(request, reply)) CompileInThisProcess(request, reply);
#endif
    spirv.assign(reply.spirv.begin(), reply.spirv.end());
    log = std::move(reply.log);
    return reply.ok;
}

} // namespace

void CompileInThisProcess(const CompileRequest &request, CompileReply &reply) {
    std::vector<unsigned> spirv;
    try {
        reply.ok = CompileHlsl(request.source, request.fileName.c_str(), request.entryPoint.c_str(),
                               request.profile.c_str(), static_cast<EShLanguage>(request.language),
                               spirv, reply.log);
    } catch (const std::bad_alloc &) {
        reply.ok  = false;
        reply.log = "ERROR: " + request.fileName + ": out of memory while compiling\n";
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
    std::string message;
    std::vector<unsigned> spirv;
    EShLanguage language = EShLangVertex;
    ShaderStage stage    = ShaderStage::Vertex;
    std::string source;

    try {
        if (!srcFile || !functionName || !profile || !shaderOut) {
            hr = E_INVALIDARG;
        } else if (!StageFromProfile(profile, language, stage)) {
            message = "ERROR: " + std::string(srcFile) + ": unsupported profile '" + profile +
                      "' (vs_*, gs_* and ps_* are supported)\n";
            hr = E_FAIL;
        } else if ((hr = ReadSource(srcFile, source, message)) == S_OK) {
            if (!CompileIsolated(source, srcFile, functionName, profile, language, spirv, message))
                hr = E_FAIL;
        }
    } catch (const std::bad_alloc &) {
        hr = E_OUTOFMEMORY;
    }

    if (hr == S_OK) {
        std::vector<uint32_t> words = {kBytecodeMagic, static_cast<uint32_t>(stage)};
        words.insert(words.end(), spirv.begin(), spirv.end());
        *shaderOut = CreateBlob(words.data(), words.size() * sizeof(uint32_t));
        if (!*shaderOut) hr = E_OUTOFMEMORY;
    }
    // Warnings come back with a successful compile too, as on Windows.
    if (errorMsgs && !message.empty()) {
        try {
            *errorMsgs = TextBlob(WindowsShapedMessages(message, srcFile, source));
        } catch (const std::bad_alloc &) {
            *errorMsgs = TextBlob(message);
        }
    }
    if (hresult) *hresult = hr;
    return hr;
}
