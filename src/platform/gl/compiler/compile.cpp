// D3DX11CompileFromFileA over glslang: one entry point of an HLSL file to
// SPIR-V (the stages of stages.h, in the compile server), wrapped in this
// backend's bytecode blob (glsl/translate.h), and the reference-counted blob
// both the compiler and the device hand out.
//
// Results follow the Windows runtime: a missing file is 0x80070002 with no
// message blob; a compile error is E_FAIL with the compiler's text, one
// line per diagnostic in the Windows compiler's shape
// ("main.fx(8,5): error: ..."), in a NUL-terminated blob.
#include "platform/gl/common/diagnostics.h"
#include "platform/gl/compiler/server.h"
#include "platform/gl/compiler/stages.h"
#include "platform/gl/glsl/translate.h"
#include "platform/gl/hlsl/source_files.h"

#include <glslang/Public/ShaderLang.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
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

#ifndef HOTFX_COMPILE_IN_PROCESS
// The entry points compiled from each file, by its working directory and
// name: those of the load in progress and those of the one before. A
// request for an entry point the load in progress already compiled starts
// the next load.
struct FileLoads {
    std::vector<EntryPoint> current, last;
};
std::map<std::string, FileLoads> loads;
constexpr size_t kMaxEntriesAhead = 8;

// The entry points the server may compile ahead of this request: those of
// the file's last load that the load in progress has not compiled yet; and
// every one of the last load, in load.
std::vector<EntryPoint> EntriesAhead(const CompileRequest &request, std::vector<EntryPoint> &load) {
    FileLoads &file         = loads[request.workingDirectory + '\0' + request.fileName];
    const EntryPoint &asked = request;
    if (std::find(file.current.begin(), file.current.end(), asked) != file.current.end()) {
        file.last = std::move(file.current);
        file.current.clear();
    }
    if (file.current.size() < kMaxEntriesAhead) file.current.push_back(asked);
    std::vector<EntryPoint> ahead;
    for (const EntryPoint &entry : file.last)
        if (std::find(file.current.begin(), file.current.end(), entry) == file.current.end())
            ahead.push_back(entry);
    load = file.last;
    return ahead;
}
#endif

// Compiles in the compile server (server.h); where none can be
// started, in this process.
bool CompileIsolated(const std::string &source, const char *fileName, const char *entryPoint,
                     const char *profile, uint32_t flags, EShLanguage language,
                     std::vector<unsigned> &spirv, uint32_t &packedRegisters,
                     Diagnostics &diagnostics) {
    CompileRequest request;
    request.language   = static_cast<uint32_t>(language);
    request.flags      = flags;
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
    request.ahead = EntriesAhead(request, request.load);
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
                               spirv, reply.packedRegisters, reply.diagnostics, reply.included);
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
                                      LPCSTR functionName, LPCSTR profile, UINT flags1, UINT,
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
            if (!CompileIsolated(source, srcFile, functionName, profile, flags1, language, spirv,
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
