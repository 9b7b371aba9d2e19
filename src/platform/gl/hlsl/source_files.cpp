// Reading HLSL source files and resolving their includes (source_files.h).
#include "platform/gl/hlsl/source_files.h"

#include "platform/gl/hlsl/glslang_macros.h"
#include "platform/gl/hlsl/glslang_messages.h"
#include "platform/gl/hlsl/lexer.h"

#include <glslang/Public/ResourceLimits.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr off_t kMaxSource    = 16 << 20; // far beyond any shader; bounds a mistaken file
constexpr size_t kMaxIncluded = 64 << 20; // all included text of one compile together
constexpr size_t kMaxNesting  = 32;       // far beyond real headers; stops an include cycle

// Reads path into source as ReadSource does, saying in why what is wrong
// with the file where that is more than "not found".
HRESULT ReadFile(const char *path, std::string &source, std::string &why) {
    // Non-blocking, so a FIFO in the file's place cannot hang the reload.
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        int err = errno;
        if (err == ENOENT) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        if (err == ENOTDIR) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
        why = std::string("cannot open: ") + std::strerror(err);
        return err == EACCES ? HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED) : E_FAIL;
    }
    struct stat info = {};
    HRESULT hr       = S_OK;
    if (fstat(fd, &info) != 0) {
        why = std::string("cannot read: ") + std::strerror(errno);
        hr  = E_FAIL;
    } else if (S_ISDIR(info.st_mode)) {
        why = "is a directory, not a shader file";
        hr  = HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED); // what Windows says of a folder
    } else if (!S_ISREG(info.st_mode)) {
        why = "is not a regular file";
        hr  = E_FAIL;
    } else if (info.st_size > kMaxSource) {
        why = "is too large for a shader file";
        hr  = E_FAIL;
    } else {
        char chunk[65536];
        for (;;) {
            ssize_t got = read(fd, chunk, sizeof chunk);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) {
                why = std::string("cannot read: ") + std::strerror(errno);
                hr  = E_FAIL;
                break;
            }
            // A file still growing is read up to the limit.
            if (got == 0 || source.size() > static_cast<size_t>(kMaxSource)) break;
            source.append(chunk, static_cast<size_t>(got));
        }
    }
    close(fd);
    return hr;
}

// The folder part of a path, with its final '/', or "" for a bare name.
std::string FolderOf(const std::string &path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Resolves each include to a file read by ReadSource's rules, named in
// messages by its path from the working directory ("shaders/common.fxh"),
// and keeps a copy of its text in included.
// The escapes of string literals, which glslang's preprocessor judges by
// C's rules ("\s" is refused) and writes out resolved (an escaped quote
// ends the string there, "\n" breaks its line), while the Windows compiler
// takes any (strings.shader_test). Strings serve annotations and effects
// alone, whose text the compile never reads: no escape is left, an escaped
// quote becoming an apostrophe.
void PlainStringEscapes(std::string &text) {
    if (text.find('\\') == std::string::npos) return;
    for (const Token &t : LexHlsl(text).tokens) {
        if (t.kind != TokenKind::String) continue;
        for (size_t i = t.offset + 1; i + 1 < t.end(); ++i) {
            if (text[i] != '\\') continue;
            text[i] = ' ';
            if (text[i + 1] == '"' || text[i + 1] == '\\') text[i + 1] = '\'';
            ++i;
        }
    }
}

class FileIncluder : public glslang::TShader::Includer {
  public:
    explicit FileIncluder(IncludedFiles &included) : included_(included) {}
    IncludeResult *includeLocal(const char *header, const char *includer, size_t depth) override {
        return Open(header, includer, depth, false);
    }
    // glslang asks here for <name>, and for "name" that includeLocal did not
    // find; the working directory is searched last.
    IncludeResult *includeSystem(const char *header, const char *includer, size_t depth) override {
        return Open(header, includer, depth, true);
    }
    void releaseInclude(IncludeResult *result) override {
        if (!result) return;
        delete static_cast<std::string *>(result->userData);
        delete result;
    }

  private:
    IncludeResult *Open(const char *header, const char *includer, size_t depth, bool last) {
        std::string name = header ? header : "";
        for (char &c : name)
            if (c == '\\') c = '/';
        if (depth > kMaxNesting)
            return Failure("includes nest deeper than " + std::to_string(kMaxNesting) +
                           " files (does '" + name + "' include itself?)");
        // An absolute name is taken as it is; otherwise the including file's
        // folder first, then (for the last try) the working directory.
        std::string tried[2] = {name, name};
        size_t count         = 1;
        if (!name.empty() && name[0] != '/') {
            tried[0] = FolderOf(includer ? includer : "") + name;
            if (last && tried[0] != name) count = 2;
        }
        std::string message = "failed to open source file: '" + name + "'";
        for (size_t i = 0; i < count; ++i) {
            auto text = std::make_unique<std::string>();
            std::string why;
            const HRESULT hr = ReadFile(tried[i].c_str(), *text, why);
            if (hr == S_OK) {
                PlainStringEscapes(*text);
                if (total_ + text->size() > kMaxIncluded)
                    return Failure("the included files are too large together ('" + name + "')");
                total_ += text->size();
                included_.emplace(tried[i], *text);
                std::string *owned = text.release();
                return new IncludeResult(tried[i], owned->data(), owned->size(), owned);
            }
            // Not found in one place may still be found in the next; any
            // other failure says why at once.
            if (hr != HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) &&
                hr != HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND))
                return Failure(message + ": " + tried[i] + ": " + why);
        }
        // The local lookup stays quiet: glslang goes on to includeSystem.
        return last ? Failure(message) : nullptr;
    }

    // glslang reports a result with no name as an error, showing its text.
    static IncludeResult *Failure(const std::string &message) {
        auto *text = new std::string(message);
        return new IncludeResult("", text->data(), text->size(), text);
    }

    IncludedFiles &included_;
    size_t total_ = 0;
};

} // namespace

HRESULT ReadSource(const char *path, std::string &source, Diagnostics &diagnostics) {
    std::string why;
    const HRESULT hr = ReadFile(path, source, why);
    if (!why.empty()) diagnostics.Error(path, 0, 0, why);
    return hr;
}

namespace {

void SetUpPreprocessing(glslang::TShader &shader, const char *const &text, const int &length,
                        const char *const &fileName, EShLanguage language) {
    shader.setStringsWithLengthsAndNames(&text, &length, &fileName, 1);
    shader.setEnvInput(glslang::EShSourceHlsl, language, glslang::EShClientVulkan, 100);
    shader.setEnvClient(glslang::EShClientVulkan, glslang::EShTargetVulkan_1_0);
    shader.setEnvTarget(glslang::EShTargetSpv, glslang::EShTargetSpv_1_0);
}

// The #undef lines for the macros glslang's preprocessor defines for HLSL,
// which the Windows compiler does not define: a file that branches on
// VULKAN or GL_core_profile must take the branch it takes on Windows. Of
// every name glslang's header knows, those it defines are asked once.
struct GlslangMacros {
    std::string undefines;
    bool spelledGl = true; // every name defined is VULKAN or holds GL_
};

const GlslangMacros &DefinedGlslangMacros(EShLanguage language, EShMessages messages) {
    static const GlslangMacros macros = [&] {
        // A defined name is printed after a mark, not expanded.
        static const std::string kMark = "hotfx_defined_";
        std::string probe;
        for (const char *name : kGlslangMacros)
            probe += std::string("#ifdef ") + name + "\n" + kMark + name + "\n#endif\n";
        const char *text = probe.c_str(), *name = "macros";
        const int length = static_cast<int>(probe.size());
        glslang::TShader shader(language);
        SetUpPreprocessing(shader, text, length, name, language);
        glslang::TShader::ForbidIncluder none;
        std::string defined;
        GlslangMacros out;
        auto add = [&](std::string_view macro) {
            out.undefines += "#undef " + std::string(macro) + "\n";
            if (macro != "VULKAN" && macro.find("GL_") == std::string_view::npos)
                out.spelledGl = false;
        };
        if (shader.preprocess(GetDefaultResources(), 100, ENoProfile, false, false, messages,
                              &defined, none)) {
            for (const Token &t : LexHlsl(defined).tokens)
                if (t.kind == TokenKind::Identifier && Spelling(defined, t).rfind(kMark, 0) == 0)
                    add(Spelling(defined, t).substr(kMark.size()));
        } else {
            for (const char *macro : kGlslangMacros)
                add(macro);
        }
        return out;
    }();
    return macros;
}

// Whether a file may meet one of glslang's macros: where every name is
// VULKAN or holds GL_, a file that spells neither, includes nothing and
// pastes no tokens cannot, and is spared the hundreds of #undef lines.
bool MayMeetGlslangMacros(const std::string &text, const GlslangMacros &macros) {
    return !macros.spelledGl || text.find("GL_") != std::string::npos ||
           text.find("VULKAN") != std::string::npos || text.find("include") != std::string::npos ||
           text.find("##") != std::string::npos;
}

} // namespace

bool PreprocessHlsl(const std::string &source, const char *fileName, EShLanguage language,
                    EShMessages messages, std::string &output, IncludedFiles &included,
                    Diagnostics &diagnostics) {
    std::string plain = source;
    PlainStringEscapes(plain);
    const char *text = plain.c_str();
    const int length = static_cast<int>(plain.size());
    glslang::TShader shader(language);
    SetUpPreprocessing(shader, text, length, fileName, language);
    const GlslangMacros &macros = DefinedGlslangMacros(language, messages);
    if (MayMeetGlslangMacros(plain, macros)) shader.setPreamble(macros.undefines.c_str());
    FileIncluder includer(included);
    if (shader.preprocess(GetDefaultResources(), 100, ENoProfile, false, false, messages, &output,
                          includer))
        return true;
    ReadGlslangMessages(shader.getInfoLog(), fileName, source, diagnostics, nullptr, &included);
    return false;
}
