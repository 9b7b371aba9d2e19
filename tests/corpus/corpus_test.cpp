// Real-world HLSL as a regression tier: every entry of the corpus manifest
// (../shared/corpus by default) is compiled through D3DX11CompileFromFileA
// and created through Create*Shader, in manifest order (a stage links to
// the stage created before it), on the real Linux backend. Each outcome,
// "ok" or the first line of what refused it, is compared with the results
// kept in expected.tsv beside this file. Without the corpus folder the tier
// says so and passes.
//
// To record today's outcomes after a change that makes more entries load,
// run the test with HOTFX_CORPUS_RECORD=<file> and review the differences.
#include "device/device.h"
#include "harness.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct Entry {
    std::string file, entry, profile;
};

std::string CorpusDir() {
    if (const char *named = std::getenv("HOTFX_CORPUS_DIR")) return named;
    return HOTFX_CORPUS_DIR;
}

std::vector<Entry> ReadManifest(const std::string &path) {
    std::vector<Entry> entries;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        Entry e;
        std::getline(fields, e.file, '\t');
        std::getline(fields, e.entry, '\t');
        std::getline(fields, e.profile, '\t');
        entries.push_back(e);
    }
    return entries;
}

// The first error line of text, or its first line when none says error
// (warnings may come before the error that stopped the compile).
std::string FirstLine(const std::string &text) {
    size_t start       = 0;
    const size_t error = text.find(": error");
    if (error != std::string::npos) {
        const size_t newline = text.rfind('\n', error);
        start                = newline == std::string::npos ? 0 : newline + 1;
    }
    std::string line = text.substr(start, text.find('\n', start) - start);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

// "ok", "compile: <first error line of the message>" or "create: <first line of
// what the backend reported>".
std::string Outcome(const Entry &e) {
    ID3D10Blob *code = nullptr, *messages = nullptr;
    Capture capture;
    const HRESULT compiled = D3DX11CompileFromFileA(
        e.file.c_str(), nullptr, nullptr, e.entry.c_str(), e.profile.c_str(),
        D3D10_SHADER_ENABLE_STRICTNESS, 0, nullptr, &code, &messages, nullptr);
    std::string outcome;
    if (compiled != 0 || !code) {
        const std::string text =
            messages ? static_cast<const char *>(messages->GetBufferPointer()) : "no message";
        outcome = "compile: " + FirstLine(text);
        // A crash of glslang reads alike whichever way it ended (a signal, or
        // a sanitizer's exit).
        outcome = std::regex_replace(outcome, std::regex(" with signal [0-9]+"), "");
    } else {
        ID3D11Device *device = deviceObjects.d3ddevice;
        const void *bytes    = code->GetBufferPointer();
        const SIZE_T size    = code->GetBufferSize();
        HRESULT created      = 0;
        if (e.profile.compare(0, 2, "vs") == 0) {
            ID3D11VertexShader *shader = nullptr;
            created                    = device->CreateVertexShader(bytes, size, nullptr, &shader);
            ReleaseSlot(shader);
        } else if (e.profile.compare(0, 2, "gs") == 0) {
            ID3D11GeometryShader *shader = nullptr;
            created = device->CreateGeometryShader(bytes, size, nullptr, &shader);
            ReleaseSlot(shader);
        } else {
            ID3D11PixelShader *shader = nullptr;
            created                   = device->CreatePixelShader(bytes, size, nullptr, &shader);
            ReleaseSlot(shader);
        }
        outcome = created == 0 ? "ok" : "create: " + FirstLine(capture.TakeErr());
    }
    ReleaseSlot(code);
    ReleaseSlot(messages);
    return outcome;
}

TEST(CorpusTest, EveryEntryLoadsAsRecorded) {
    const std::string dir = CorpusDir();
    if (!fs::exists(fs::path(dir) / "manifest.tsv"))
        GTEST_SKIP() << "no corpus at " << dir << ": the corpus tier is skipped";

    // The expected outcomes: file, entry, profile, outcome.
    std::vector<std::string> expected;
    {
        std::ifstream in(HOTFX_CORPUS_EXPECTED);
        std::string line;
        while (std::getline(in, line))
            if (!line.empty() && line[0] != '#') expected.push_back(line);
    }

    Xvfb xvfb;
    ScratchDir scratch;
    long opened = 0;
    {
        Capture quiet;
        opened = OpenProgram();
    }
    ASSERT_EQ(opened, 0) << "the device could not be created";

    const fs::path previous = fs::current_path();
    fs::current_path(dir); // messages name the files as the manifest does
    const std::vector<Entry> entries = ReadManifest("manifest.tsv");
    std::vector<std::string> actual;
    for (const Entry &e : entries)
        actual.push_back(e.file + "\t" + e.entry + "\t" + e.profile + "\t" + Outcome(e));
    fs::current_path(previous);
    {
        Capture quiet;
        CloseProgram();
    }

    if (const char *record = std::getenv("HOTFX_CORPUS_RECORD")) {
        std::ofstream out(record);
        out << "# file\tentry\tprofile\toutcome (ok, or the first line of the refusal)\n";
        for (const std::string &line : actual)
            out << line << "\n";
    }

    int loaded = 0;
    for (const std::string &line : actual)
        loaded += line.size() > 3 && line.substr(line.size() - 3) == "\tok";
    std::printf("corpus: %d of %zu entries load\n", loaded, actual.size());

    ASSERT_EQ(actual.size(), expected.size())
        << "the manifest and the expected results differ in length";
    for (size_t i = 0; i < actual.size(); ++i)
        EXPECT_EQ(actual[i], expected[i]) << "entry " << i + 1 << " of the manifest";
}

} // namespace
