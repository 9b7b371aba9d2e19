// Conformance with the Windows compiler: vkd3d's HLSL tests, which run on
// Windows 10 with its own d3dcompiler_47 and Direct3D 11 for every change
// vkd3d makes, read from ../shared/vkd3d-tests/hlsl (or the folder
// HOTFX_VKD3D_TESTS_DIR names, in the cache or the environment) and run
// through the Linux backend at shader model 4.0.
//
// What applies: [pixel shader] and [vertex shader] sections under a
// [require] that shader model 4.0 meets with nothing else required; each
// must compile (vs_4_0 / ps_4_0), or be refused where its `fail` qualifier
// holds at 4.0. The [test] lines after a section that compiled run in order:
// `uniform` writes the constant buffer at b0, `draw quad` draws the
// sections over the whole 640 x 480 target, `probe` compares pixels with
// the values and tolerance the line gives. A probe after a resource
// section ([srv], [uav], [rtv], [vb], ...) or a command this runner does not
// model (another draw, depth, blending, ...) does not apply.
//
// Every case (a section's compile, a probe line) that fails must be listed
// in known_failures.tsv with its reason, and every listed case must fail:
// the list stays true as it shrinks. Nothing expected here comes from
// running hotfx.
#define GL_GLEXT_PROTOTYPES 1

#include "device/device.h"
#include "harness.h"
#include "platform/platform.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kWidth = 640, kHeight = 480;
constexpr float kModel = 4.0f;

// vkd3d's default vertex stage for "draw quad": the quad's corners come
// from a vertex buffer read as `position`.
const char *const kQuadVertexShader =
    "float4 main(float4 pos : position) : sv_position { return pos; }\n";

std::string Trim(const std::string &s) {
    const size_t a = s.find_first_not_of(" \t\r");
    if (a == std::string::npos) return "";
    return s.substr(a, s.find_last_not_of(" \t\r") - a + 1);
}

// A condition of a qualifier as it holds for this runner: shader model 4.0
// on Direct3D 11. "sm<6", "sm>=4 & sm<6", "glsl | msl"; names of other
// runners or back ends are false.
bool Holds(const std::string &condition) {
    std::stringstream any(condition);
    std::string alternative;
    while (std::getline(any, alternative, '|')) {
        bool all = true;
        std::stringstream each(alternative);
        std::string atom;
        while (std::getline(each, atom, '&')) {
            atom       = Trim(atom);
            bool value = atom == "d3d11";
            if (atom.compare(0, 2, "sm") == 0) {
                size_t at = 2;
                std::string op;
                while (at < atom.size() && std::strchr("<>=!", atom[at]))
                    op += atom[at++];
                const float n = std::strtof(atom.c_str() + at, nullptr);
                value         = op == "<"    ? kModel < n
                                : op == "<=" ? kModel <= n
                                : op == ">"  ? kModel > n
                                : op == ">=" ? kModel >= n
                                : op == "==" ? kModel == n
                                             : kModel != n;
            }
            all = all && value;
        }
        if (all) return true;
    }
    return false;
}

// The qualifiers of a section header or a test line: "fail(sm<5) todo"
// gives {"fail": "sm<5", "todo": ""}. Reads from text[at] on; at ends after
// the last qualifier.
std::map<std::string, std::string> Qualifiers(const std::string &text, size_t &at,
                                              bool stopAtCommand) {
    static const std::set<std::string> known = {"todo", "if", "fail", "bug", "notimpl", "mvk"};
    std::map<std::string, std::string> result;
    while (true) {
        while (at < text.size() && text[at] == ' ')
            ++at;
        size_t end = at;
        while (end < text.size() &&
               (std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '_'))
            ++end;
        const std::string word = text.substr(at, end - at);
        if (word.empty() || (stopAtCommand && !known.count(word))) return result;
        std::string condition;
        if (end < text.size() && text[end] == '(') {
            const size_t close = text.find(')', end);
            if (close == std::string::npos) return result;
            condition = text.substr(end + 1, close - end - 1);
            end       = close + 1;
        }
        result[word] = condition;
        at           = end;
    }
}

struct Outcome {
    int passed = 0, failed = 0, listed = 0;
};

struct Runner {
    std::map<std::string, std::string> known; // "file:line" -> reason
    std::set<std::string> failedCases, passedCases;
    std::vector<std::string> report;
    GLuint fbo = 0, texture = 0;
    GLuint quadArray = 0, quadBuffer = 0;
    GLenum textureFormat              = 0;
    ID3D11RasterizerState *rasterizer = nullptr;

    void Record(const std::string &id, bool ok, const std::string &why, Outcome &outcome) {
        (ok ? passedCases : failedCases).insert(id);
        if (ok) {
            ++outcome.passed;
        } else {
            ++outcome.failed;
            if (known.count(id)) ++outcome.listed;
            std::string line = id + "\t" + why;
            std::replace(line.begin() + static_cast<long>(id.size()) + 1, line.end(), '\n', ' ');
            std::replace(line.begin() + static_cast<long>(id.size()) + 1, line.end(), '\t', ' ');
            report.push_back(line.substr(0, 240));
        }
    }
};

ID3D10Blob *Compile(const std::string &source, const char *profile, std::string &message) {
    WriteFileAtomically("test.hlsl", source);
    ID3D10Blob *code = nullptr, *messages = nullptr;
    D3DX11CompileFromFileA("test.hlsl", nullptr, nullptr, "main", profile,
                           D3D10_SHADER_ENABLE_STRICTNESS, 0, nullptr, &code, &messages, nullptr);
    message.clear();
    if (messages) {
        const std::string text = static_cast<const char *>(messages->GetBufferPointer());
        size_t start           = text.find(": error");
        start   = start == std::string::npos ? 0 : text.rfind('\n', start) + 1; // npos + 1 is 0
        message = text.substr(start, text.find('\n', start) - start);
    }
    ReleaseSlot(messages);
    return code;
}

// The render target of the probes: a float, int or uint 640 x 480 texture,
// as the probe lines of the test block read it (Direct3D's default target is
// r32g32b32a32-float).
void UseTarget(Runner &r, GLenum format) {
    if (r.textureFormat != format) {
        if (r.fbo) glDeleteFramebuffers(1, &r.fbo);
        if (r.texture) glDeleteTextures(1, &r.texture);
        glCreateTextures(GL_TEXTURE_2D, 1, &r.texture);
        glTextureStorage2D(r.texture, 1, format, kWidth, kHeight);
        glCreateFramebuffers(1, &r.fbo);
        glNamedFramebufferTexture(r.fbo, GL_COLOR_ATTACHMENT0, r.texture, 0);
        r.textureFormat = format;
    }
}

void Clear(Runner &r, const float colour[4]) {
    if (r.textureFormat == GL_RGBA32F) {
        glClearNamedFramebufferfv(r.fbo, GL_COLOR, 0, colour);
    } else if (r.textureFormat == GL_RGBA32UI) {
        GLuint v[4];
        for (int i = 0; i < 4; ++i)
            std::memcpy(&v[i], &colour[i], 4);
        glClearNamedFramebufferuiv(r.fbo, GL_COLOR, 0, v);
    } else {
        GLint v[4];
        for (int i = 0; i < 4; ++i)
            std::memcpy(&v[i], &colour[i], 4);
        glClearNamedFramebufferiv(r.fbo, GL_COLOR, 0, v);
    }
}

// Draws the stages over the whole target. The backend's own draw makes
// points only (what hotfx draws); after it has set the pipeline up, the
// quad is drawn with GL into the probe target, the compiled stages
// unchanged.
bool Draw(Runner &r, ID3D11VertexShader *vs, ID3D11PixelShader *ps,
          const std::vector<uint32_t> &constants) {
    ID3D11Device *device         = deviceObjects.d3ddevice;
    ID3D11DeviceContext *context = deviceObjects.d3dcontext;
    D3D11_BUFFER_DESC desc       = {};
    desc.ByteWidth               = static_cast<UINT>(constants.size() * 4);
    desc.Usage                   = D3D11_USAGE_DEFAULT;
    desc.BindFlags               = D3D11_BIND_CONSTANT_BUFFER;
    D3D11_SUBRESOURCE_DATA init  = {constants.data(), 0, 0};
    ID3D11Buffer *buffer         = nullptr;
    if (device->CreateBuffer(&desc, &init, &buffer) != 0) return false;
    context->OMSetRenderTargets(1, &deviceObjects.d3drendertarget, nullptr);
    context->RSSetState(r.rasterizer);
    context->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_POINTLIST);
    context->VSSetShader(vs, nullptr, 0);
    context->GSSetShader(nullptr, nullptr, 0);
    context->PSSetShader(ps, nullptr, 0);
    context->VSSetConstantBuffers(0, 1, &buffer);
    context->PSSetConstantBuffers(0, 1, &buffer);
    context->DrawInstanced(1, 1, 0, 0);
    // The corners reach the vertex stage's `position` at whatever location
    // the backend gave it: every attribute location reads them (vkd3d's
    // quad has no other attribute).
    GLint backendArray = 0;
    glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &backendArray);
    glBindVertexArray(r.quadArray);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, r.fbo);
    glViewport(0, 0, kWidth, kHeight);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    glFinish();
    glBindVertexArray(static_cast<GLuint>(backendArray));
    ID3D11Buffer *const none[1] = {};
    context->VSSetConstantBuffers(0, 1, none);
    context->PSSetConstantBuffers(0, 1, none);
    context->VSSetShader(nullptr, nullptr, 0);
    context->PSSetShader(nullptr, nullptr, 0);
    context->OMSetRenderTargets(0, nullptr, nullptr);
    ReleaseSlot(buffer);
    return true;
}

// vkd3d's float comparison: within ulps units in the last place, the two
// zeros equal.
bool CloseEnough(float got, float want, unsigned ulps) {
    int32_t x, y;
    std::memcpy(&x, &got, 4);
    std::memcpy(&y, &want, 4);
    if (x < 0) x = INT_MIN - x;
    if (y < 0) y = INT_MIN - y;
    return std::llabs(static_cast<long long>(x) - y) <= ulps;
}

// One probe line after "probe": "(x, y) rgba (r, g, b, a) ulps", "(left,
// top, right, bottom) ...", "all ...". False, with what was read in why,
// when a pixel differs; applies false for a probe this runner cannot read.
bool Probe(Runner &r, const std::string &line, bool &applies, std::string &why) {
    int x = 0, y = 0, w = kWidth, h = kHeight;
    size_t at = 0;
    applies   = true;
    if (line.compare(0, 3, "all") == 0) {
        at = 3;
    } else if (line[0] == '(') {
        const size_t close = line.find(')');
        std::vector<int> v;
        std::stringstream numbers(line.substr(1, close - 1));
        std::string n;
        while (std::getline(numbers, n, ','))
            v.push_back(std::atoi(n.c_str()));
        if (v.size() == 2) {
            x = v[0], y = v[1], w = 1, h = 1;
        } else if (v.size() == 4) {
            x = v[0], y = v[1], w = v[2] - v[0], h = v[3] - v[1]; // left, top, right, bottom
        } else {
            applies = false;
            return true;
        }
        at = close + 1;
    } else {
        applies = false; // probe rtv N, probe uav N, probe dsv
        return true;
    }
    while (at < line.size() && line[at] == ' ')
        ++at;
    std::string format;
    while (at < line.size() && std::isalpha(static_cast<unsigned char>(line[at])))
        format += line[at++];
    const size_t open = line.find('(', at), close = line.find(')', open);
    if (open == std::string::npos || close == std::string::npos) {
        applies = false;
        return true;
    }
    const bool isFloat = format == "rgba" || format == "r" || format == "rg";
    const int count    = format[0] != 'r'                    ? 0
                         : format.compare(0, 4, "rgba") == 0 ? 4
                         : format.compare(0, 2, "rg") == 0   ? 2
                                                             : 1;
    if (!count) {
        applies = false;
        return true;
    }
    std::vector<std::string> values;
    std::stringstream list(line.substr(open + 1, close - open - 1));
    std::string v;
    while (std::getline(list, v, ','))
        values.push_back(Trim(v));
    const unsigned ulps =
        static_cast<unsigned>(std::strtoul(line.c_str() + close + 1, nullptr, 10));
    if (static_cast<int>(values.size()) != count) {
        applies = false;
        return true;
    }
    std::vector<uint32_t> pixels(static_cast<size_t>(w) * h * 4);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, r.fbo);
    // Direct3D's row y counts from the top; GL's rows from the bottom.
    glReadPixels(x, kHeight - y - h, w, h,
                 r.textureFormat == GL_RGBA32F ? GL_RGBA : GL_RGBA_INTEGER,
                 r.textureFormat == GL_RGBA32F    ? GL_FLOAT
                 : r.textureFormat == GL_RGBA32UI ? GL_UNSIGNED_INT
                                                  : GL_INT,
                 pixels.data());
    glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    for (size_t p = 0; p < pixels.size() / 4; ++p) {
        bool ok = true;
        for (int c = 0; c < count && ok; ++c) {
            const uint32_t bits = pixels[p * 4 + c];
            if (isFloat) {
                float got;
                std::memcpy(&got, &bits, 4);
                ok = CloseEnough(got, std::strtof(values[c].c_str(), nullptr), ulps);
            } else if (format.find("ui") != std::string::npos) {
                ok = bits == static_cast<uint32_t>(std::strtoul(values[c].c_str(), nullptr, 0));
            } else {
                ok = static_cast<int32_t>(bits) ==
                     static_cast<int32_t>(std::strtol(values[c].c_str(), nullptr, 0));
            }
        }
        if (!ok) {
            std::ostringstream got;
            got << "reads (";
            for (int c = 0; c < count; ++c) {
                const uint32_t bits = pixels[p * 4 + c];
                float f;
                std::memcpy(&f, &bits, 4);
                if (c) got << ", ";
                if (isFloat)
                    got << f;
                else
                    got << (format.find("ui") != std::string::npos ? static_cast<long long>(bits)
                                                                   : static_cast<int32_t>(bits));
            }
            got << ")";
            why = got.str();
            return false;
        }
    }
    return true;
}

// Writes "uniform OFFSET TYPE VALUES..." into the constant image.
bool Uniform(const std::string &line, std::vector<uint32_t> &constants) {
    std::stringstream in(line);
    size_t offset = 0;
    std::string type;
    if (!(in >> offset >> type)) return false;
    if (type.find("64") != std::string::npos || type.compare(0, 6, "double") == 0) return false;
    const bool isFloat = type.compare(0, 5, "float") == 0;
    const bool isUint  = type.compare(0, 4, "uint") == 0;
    std::string value;
    while (in >> value) {
        if (offset >= constants.size()) return false;
        uint32_t bits = 0;
        if (isFloat) {
            const float f = std::strtof(value.c_str(), nullptr);
            std::memcpy(&bits, &f, 4);
        } else if (isUint) {
            bits = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 0));
        } else {
            bits =
                static_cast<uint32_t>(static_cast<int32_t>(std::strtol(value.c_str(), nullptr, 0)));
        }
        constants[offset++] = bits;
    }
    return true;
}

struct Section {
    std::string name; // "pixel shader", "test", "require", ...
    std::map<std::string, std::string> qualifiers;
    int line = 0;
    std::vector<std::pair<int, std::string>> body; // line number, text
};

std::vector<Section> ReadSections(const std::string &path) {
    std::vector<Section> sections;
    std::ifstream in(path);
    std::string text;
    int number = 0;
    while (std::getline(in, text)) {
        ++number;
        if (!text.empty() && text.back() == '\r') text.pop_back();
        if (!text.empty() && text[0] == '[') {
            const size_t close = text.find(']');
            Section s;
            s.line             = number;
            std::string header = text.substr(1, close == std::string::npos ? 0 : close - 1);
            static const char *const names[] = {"pixel shader",
                                                "vertex shader",
                                                "geometry shader",
                                                "compute shader",
                                                "hull shader",
                                                "domain shader",
                                                "effect",
                                                "test",
                                                "require",
                                                "srv",
                                                "uav",
                                                "rtv",
                                                "dsv",
                                                "vb",
                                                "input layout",
                                                "sampler"};
            for (const char *name : names)
                if (header.compare(0, std::strlen(name), name) == 0) s.name = name;
            if (s.name.empty()) s.name = header;
            size_t at    = s.name.size();
            s.qualifiers = Qualifiers(header, at, false);
            sections.push_back(s);
        } else if (!sections.empty() && (text.empty() || text[0] != '%')) {
            // A line starting with '%' is a comment in every section.
            sections.back().body.emplace_back(number, text);
        }
    }
    return sections;
}

void RunFile(Runner &r, const std::string &dir, const std::string &file, Outcome &outcome) {
    bool applies = true, resources = false;
    std::string vertexSource = kQuadVertexShader;
    ID3D11VertexShader *vs   = nullptr;
    ID3D11PixelShader *ps    = nullptr;
    bool vertexStale = true, pixelReady = false, pixelExpected = false;
    std::string pixelSource;
    auto releaseShaders = [&] {
        ReleaseSlot(vs);
        ReleaseSlot(ps);
    };
    for (const Section &s : ReadSections(dir + "/" + file)) {
        const std::string where = file + ":" + std::to_string(s.line);
        if (s.name == "require") {
            applies = true;
            for (const auto &[number, line] : s.body) {
                const std::string t = Trim(line);
                if (t.empty() || t[0] == '%' || t[0] == '#') continue;
                if (t.compare(0, 12, "shader model") == 0) {
                    std::string op;
                    size_t at = 12;
                    while (at < t.size() && t[at] == ' ')
                        ++at;
                    while (at < t.size() && std::strchr("<>=", t[at]))
                        op += t[at++];
                    applies = applies && Holds("sm" + op + t.substr(at));
                } else {
                    applies = false; // a feature or compile option hotfx does not have
                }
            }
            continue; // the shaders stay: a [require] changes only what applies
        }
        if (s.name == "srv" || s.name == "uav" || s.name == "rtv" || s.name == "dsv" ||
            s.name == "vb" || s.name == "input layout") {
            resources = true;
            continue;
        }
        if (!applies) continue;
        if (s.name == "vertex shader" || s.name == "pixel shader") {
            std::string source;
            for (const auto &[number, line] : s.body)
                source += line + "\n";
            const auto fail = s.qualifiers.find("fail");
            const bool shouldFail =
                fail != s.qualifiers.end() && (fail->second.empty() || Holds(fail->second));
            const bool isPixel = s.name == "pixel shader";
            std::string message;
            ID3D10Blob *code    = Compile(source, isPixel ? "ps_4_0" : "vs_4_0", message);
            const bool compiled = code != nullptr;
            ReleaseSlot(code);
            r.Record(where, compiled != shouldFail,
                     shouldFail ? "compiles, where Windows refuses it" : "refused: " + message,
                     outcome);
            if (isPixel) {
                pixelSource   = source;
                pixelReady    = compiled && !shouldFail;
                pixelExpected = !shouldFail; // Windows draws with it
            } else {
                vertexSource = compiled && !shouldFail ? source : "";
                vertexStale  = true;
            }
            continue;
        }
        if (s.name != "test") continue;
        // The block's probes read an integer target where they say so.
        GLenum format = GL_RGBA32F;
        for (const auto &[number, line] : s.body) {
            if (line.find("rgbaui") != std::string::npos || line.find(" rui") != std::string::npos)
                format = GL_RGBA32UI;
            else if (line.find("rgbai") != std::string::npos ||
                     line.find(" ri ") != std::string::npos)
                format = GL_RGBA32I;
        }
        // The target keeps what earlier blocks drew (a discarded pixel shows
        // it); a new one starts cleared.
        if (r.textureFormat != format) {
            UseTarget(r, format);
            const float zero[4] = {0, 0, 0, 0};
            Clear(r, zero);
        }
        std::vector<uint32_t> constants(4096, 0); // 16 KB at b0
        bool modelled = !resources, drawn = false, drawOk = false;
        std::string drawWhy;
        for (const auto &[number, raw] : s.body) {
            std::string line = Trim(raw);
            if (line.empty() || line[0] == '%' || line[0] == '#') continue;
            size_t at             = 0;
            const auto qualifiers = Qualifiers(line, at, true);
            const auto condition  = qualifiers.find("if");
            if (condition != qualifiers.end() && !Holds(condition->second)) continue;
            line                 = Trim(line.substr(at));
            const std::string id = file + ":" + std::to_string(number);
            if (line.compare(0, 8, "uniform ") == 0) {
                modelled = Uniform(line.substr(8), constants) && modelled;
            } else if (line == "draw quad") {
                drawn = true;
                if (!modelled || !pixelReady || vertexSource.empty()) continue;
                if (vertexStale) {
                    ReleaseSlot(vs);
                    std::string message;
                    ID3D10Blob *code = Compile(vertexSource, "vs_4_0", message);
                    if (code)
                        deviceObjects.d3ddevice->CreateVertexShader(
                            code->GetBufferPointer(), code->GetBufferSize(), nullptr, &vs);
                    ReleaseSlot(code);
                    vertexStale = false;
                }
                ReleaseSlot(ps);
                std::string message;
                ID3D10Blob *code = Compile(pixelSource, "ps_4_0", message);
                HRESULT created  = E_FAIL;
                Capture capture;
                if (code && vs)
                    created = deviceObjects.d3ddevice->CreatePixelShader(
                        code->GetBufferPointer(), code->GetBufferSize(), nullptr, &ps);
                ReleaseSlot(code);
                drawOk  = created == 0 && Draw(r, vs, ps, constants);
                drawWhy = !vs ? "the vertex stage was not created"
                              : "not drawn: " + Trim(capture.TakeErr().substr(0, 200));
            } else if (line.compare(0, 9, "clear rtv") == 0) {
                std::stringstream in(line.substr(9));
                int index  = 0;
                float c[4] = {};
                in >> index >> c[0] >> c[1] >> c[2] >> c[3];
                if (index == 0 && format == GL_RGBA32F)
                    Clear(r, c);
                else
                    modelled = false;
            } else if (line.compare(0, 6, "probe ") == 0 || line.compare(0, 6, "probe(") == 0) {
                if (!modelled || !drawn || !pixelExpected) continue;
                std::string why = pixelReady ? drawWhy : "the pixel shader was refused";
                bool applicable = true;
                const bool ok =
                    pixelReady && drawOk && Probe(r, Trim(line.substr(5)), applicable, why);
                if (applicable) r.Record(id, ok, why, outcome);
            } else {
                modelled = false; // state this runner does not model
            }
        }
    }
    releaseShaders();
}

std::string TestsDir() {
    if (const char *named = std::getenv("HOTFX_VKD3D_TESTS_DIR")) return named;
    return HOTFX_VKD3D_TESTS_DIR;
}

TEST(ConformanceTest, WindowsValidatedTestsHoldAtShaderModel4) {
    const std::string dir = TestsDir() + "/hlsl";
    if (!fs::is_directory(dir))
        GTEST_SKIP() << "no vkd3d tests at " << dir << ": the conformance tier is skipped";

    Runner r;
    {
        std::ifstream in(HOTFX_KNOWN_FAILURES);
        std::string line;
        while (std::getline(in, line)) {
            if (line.empty() || line[0] == '#') continue;
            const size_t tab             = line.find('\t');
            r.known[line.substr(0, tab)] = tab == std::string::npos ? "" : line.substr(tab + 1);
        }
    }
    std::vector<std::string> files;
    for (const auto &entry : fs::directory_iterator(dir))
        if (entry.path().extension() == ".shader_test") files.push_back(entry.path().filename());
    std::sort(files.begin(), files.end());

    Xvfb xvfb;
    ScratchDir scratch(ScratchDir::Entered);
    long opened = 0;
    {
        Capture quiet;
        opened = OpenProgram();
    }
    ASSERT_EQ(opened, 0) << "the device could not be created";
    D3D11_RASTERIZER_DESC rasterizer = {};
    rasterizer.FillMode              = D3D11_FILL_SOLID;
    rasterizer.CullMode              = D3D11_CULL_NONE;
    rasterizer.DepthClipEnable       = TRUE;
    deviceObjects.d3ddevice->CreateRasterizerState(&rasterizer, &r.rasterizer);
    const float corners[] = {-1, -1, -1, 1, 1, -1, 1, 1}; // a strip, as vkd3d draws it
    glCreateBuffers(1, &r.quadBuffer);
    glNamedBufferStorage(r.quadBuffer, sizeof corners, corners, 0);
    glCreateVertexArrays(1, &r.quadArray);
    GLint attributes = 16;
    glGetIntegerv(GL_MAX_VERTEX_ATTRIBS, &attributes);
    glVertexArrayVertexBuffer(r.quadArray, 0, r.quadBuffer, 0, 2 * sizeof(float));
    for (GLuint a = 0; a < static_cast<GLuint>(attributes); ++a) {
        glEnableVertexArrayAttrib(r.quadArray, a);
        glVertexArrayAttribFormat(r.quadArray, a, 2, GL_FLOAT, GL_FALSE, 0);
        glVertexArrayAttribBinding(r.quadArray, a, 0);
    }

    Outcome total;
    for (const std::string &file : files) {
        Outcome outcome;
        {
            Capture quiet; // the backend's reports of shaders it cannot create
            RunFile(r, dir, file, outcome);
        }
        if (outcome.passed + outcome.failed == 0) continue;
        std::printf("%-48s %4d passed, %3d failed (%d listed)\n", file.c_str(), outcome.passed,
                    outcome.failed, outcome.listed);
        total.passed += outcome.passed;
        total.failed += outcome.failed;
        total.listed += outcome.listed;
    }
    std::printf("conformance: %d of %d cases pass (%.1f%%); %d failures listed\n", total.passed,
                total.passed + total.failed,
                100.0 * total.passed / std::max(1, total.passed + total.failed), total.listed);

    if (const char *record = std::getenv("HOTFX_CONFORMANCE_RECORD")) {
        std::ofstream out(record);
        for (const std::string &line : r.report)
            out << line << "\n";
    }
    for (const std::string &line : r.report) {
        const std::string id = line.substr(0, line.find('\t'));
        EXPECT_TRUE(r.known.count(id)) << "fails and is not listed: " << line;
    }
    for (const auto &[id, reason] : r.known) {
        const std::string file = id.substr(0, id.find(':'));
        if (!fs::exists(dir + "/" + file)) continue; // a file this copy of the tests lacks
        EXPECT_FALSE(r.passedCases.count(id))
            << "listed but passes: " << id << " (" << reason << ")";
    }

    if (r.fbo) glDeleteFramebuffers(1, &r.fbo);
    if (r.texture) glDeleteTextures(1, &r.texture);
    glDeleteVertexArrays(1, &r.quadArray);
    glDeleteBuffers(1, &r.quadBuffer);
    ReleaseSlot(r.rasterizer);
    Capture quiet;
    CloseProgram();
}

} // namespace
