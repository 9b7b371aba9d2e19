// The program's own costs on the real Linux backend, under an Xvfb of the
// benchmark's own (Mesa's llvmpipe), with examples/main.fx:
// - Reload: F5 to the first frame drawn with the new shaders, in-process:
//   LoadScene, RenderFrame and the wait for the GL work to finish; with its
//   parts (compile, translate) to show where the time goes.
// - Frame: RenderFrame and the GL work, without the loop's 16 ms sleep; and
//   its Present alone.
// - StartUp: the program's entry, from exec to the exit after its first
//   presented frame (bench/first_frame.cpp), which includes the 16 ms sleep
//   and the teardown; loaded_ms is exec to "Obj Initialize.".
// - Memory: the built hotfx, resident memory a second after start-up.
// Each prints its median over repeated runs:
//   build/default/bench/hotfx_bench_program
#include "harness.h"

#include "device/device.h"
#include "platform/gl/glsl/translate.h"
#include "scene/scene.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <memory>
#include <signal.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// One window and device for the in-process benchmarks, in a scratch
// directory holding the example; made on first use.
bool ProgramOpen() {
    static ScratchDir *scratch = nullptr;
    static bool open           = false;
    if (!scratch) {
        scratch = new ScratchDir(ScratchDir::Entered);
        WriteFileAtomically("main.fx", ReadFile(HOTFX_EXAMPLE));
        Capture quiet;
        open = OpenProgram() == 0;
    }
    return open;
}

bool SceneComplete() {
    const SceneObjects &s = sceneObjects;
    return s.vshader && s.gshader && s.pshader && s.pConstant && s.pRSStage;
}

// The example with the literals of the edited stages changed by `step`, so
// that each load compiles a file that differs from the one before in those
// stages, as a user's edit does: 1, the pixel stage; 3, every stage.
std::string EditedExample(int stages, int step) {
    std::string text          = ReadFile(HOTFX_EXAMPLE);
    const std::string value   = std::to_string(0.25 + step * 1e-4);
    const char *const edits[] = {"core * 0.6", "0.75 + 0.25", "768.0 / 1024.0"};
    for (int e = 0; e < stages; ++e) {
        const size_t at = text.find(edits[e]);
        if (at == std::string::npos) return std::string();
        text.insert(at + std::string(edits[e]).size(), " * " + value);
    }
    return text;
}

// edited_stages 0: the file unchanged between loads; 1: the pixel stage
// edited before each load; 3: every stage edited before each load. The edit
// is written outside the timing. f5_after_ms: how long after the save the
// reload starts, also outside the timing: 0, at once; 50, as a user who
// saves in the editor and then presses F5 in hotfx's window, which takes
// longer than that. The machine idles in that time, and the first work
// after it runs slower, so compare a gap with the same gap.
void BM_Reload(benchmark::State &state) {
    if (!ProgramOpen()) return state.SkipWithError("no device");
    Capture quiet;
    const int stages = static_cast<int>(state.range(0));
    const auto gap   = std::chrono::milliseconds(state.range(1));
    int step         = 0;
    for (auto _ : state) {
        if (stages || gap.count()) {
            state.PauseTiming();
            if (stages) {
                const std::string text = EditedExample(stages, ++step % 1000);
                if (text.empty()) return state.SkipWithError("the example has no literal to edit");
                WriteFileAtomically("main.fx", text);
            }
            std::this_thread::sleep_for(gap);
            state.ResumeTiming();
        }
        LoadScene();
        RenderFrame();
        FinishGl();
    }
    if (!SceneComplete()) state.SkipWithError("the example did not load");
    WriteFileAtomically("main.fx", ReadFile(HOTFX_EXAMPLE));
}
BENCHMARK(BM_Reload)
    ->ArgNames({"edited_stages", "f5_after_ms"})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({3, 0})
    ->Args({0, 50})
    ->Args({1, 50})
    ->Args({3, 50})
    ->UseRealTime() // the reload's time is mostly other threads' and processes'
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(10)
    ->ReportAggregatesOnly();

// The three D3DX11CompileFromFileA calls of a reload (glslang); edited,
// the file gains a new declaration before each reload, as after a save in
// the editor, so that nothing of the last reload's compiles applies.
void ReloadCompile(benchmark::State &state, bool edited) {
    ScratchDir scratch(ScratchDir::Entered);
    const std::string text = ReadFile(HOTFX_EXAMPLE);
    WriteFileAtomically("main.fx", text);
    static const char *const entries[3]  = {"vs_main", "gs_main", "ps_main"};
    static const char *const profiles[3] = {"vs_4_0", "gs_4_0", "ps_4_0"};
    int edits                            = 0;
    for (auto _ : state) {
        if (edited) { // the file's write is the editor's time, not the reload's
            state.PauseTiming();
            WriteFileAtomically("main.fx", text + "static const float edit" +
                                               std::to_string(++edits) + " = 1;\n");
            state.ResumeTiming();
        }
        for (int s = 0; s < 3; ++s) {
            ID3D10Blob *code = nullptr, *messages = nullptr;
            D3DX11CompileFromFileA("main.fx", nullptr, nullptr, entries[s], profiles[s],
                                   D3D10_SHADER_ENABLE_STRICTNESS, 0, nullptr, &code, &messages,
                                   nullptr);
            if (!code) state.SkipWithError("the example did not compile");
            ReleaseSlot(code);
            ReleaseSlot(messages);
        }
    }
}
void BM_ReloadCompile(benchmark::State &state) {
    ReloadCompile(state, false);
}
void BM_ReloadCompileEdited(benchmark::State &state) {
    ReloadCompile(state, true);
}
BENCHMARK(BM_ReloadCompile)->Unit(benchmark::kMillisecond)->Repetitions(10)->ReportAggregatesOnly();
BENCHMARK(BM_ReloadCompileEdited)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(10)
    ->ReportAggregatesOnly();

// The three TranslateToGlsl calls of a reload's shader creation (SPIRV-Cross).
void BM_ReloadTranslate(benchmark::State &state) {
    ScratchDir scratch(ScratchDir::Entered);
    WriteFileAtomically("main.fx", ReadFile(HOTFX_EXAMPLE));
    static const char *const entries[3]  = {"vs_main", "gs_main", "ps_main"};
    static const char *const profiles[3] = {"vs_4_0", "gs_4_0", "ps_4_0"};
    ID3D10Blob *code[3]                  = {};
    for (int s = 0; s < 3; ++s)
        D3DX11CompileFromFileA("main.fx", nullptr, nullptr, entries[s], profiles[s],
                               D3D10_SHADER_ENABLE_STRICTNESS, 0, nullptr, &code[s], nullptr,
                               nullptr);
    for (auto _ : state) {
        Translation stages[3];
        for (int s = 0; s < 3; ++s) {
            std::string error;
            if (!code[s] ||
                !TranslateToGlsl(static_cast<ShaderStage>(s), code[s]->GetBufferPointer(),
                                 code[s]->GetBufferSize(), s ? &stages[s - 1].outputs : nullptr,
                                 stages[s], error))
                state.SkipWithError("the example did not translate");
            benchmark::DoNotOptimize(stages[s].glsl);
        }
    }
    for (ID3D10Blob *&blob : code)
        ReleaseSlot(blob);
}
BENCHMARK(BM_ReloadTranslate)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(10)
    ->ReportAggregatesOnly();

void BM_Frame(benchmark::State &state) {
    if (!ProgramOpen()) return state.SkipWithError("no device");
    Capture quiet;
    LoadScene();
    RenderFrame();
    FinishGl();
    for (auto _ : state) {
        RenderFrame();
        FinishGl();
    }
    if (!SceneComplete()) state.SkipWithError("the example did not load");
}
BENCHMARK(BM_Frame)->Unit(benchmark::kMillisecond)->Repetitions(10)->ReportAggregatesOnly();

// The frame's Present alone: the back buffer stretched onto the window's
// client area, and the swap.
void BM_FramePresent(benchmark::State &state) {
    if (!ProgramOpen()) return state.SkipWithError("no device");
    for (auto _ : state) {
        deviceObjects.d3dswapchain->Present(0, 0);
        FinishGl();
    }
}
BENCHMARK(BM_FramePresent)->Unit(benchmark::kMillisecond)->Repetitions(10)->ReportAggregatesOnly();

// Starts program in a scratch directory holding the example, its standard
// output on a pipe and its standard error discarded.
pid_t Start(const char *program, const std::string &directory, int &output) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        close(fds[0]);
        close(fds[1]);
        if (chdir(directory.c_str()) != 0) _exit(127);
        execl(program, program, static_cast<char *>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    output = fds[0];
    return pid;
}

// Reads output until text has arrived; false at its end without it.
bool WaitFor(int output, const std::string &text) {
    std::string seen;
    char chunk[4096];
    ssize_t got = 0;
    while (seen.find(text) == std::string::npos && (got = read(output, chunk, sizeof chunk)) > 0)
        seen.append(chunk, static_cast<size_t>(got));
    return seen.find(text) != std::string::npos;
}

double Milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void BM_StartUp(benchmark::State &state) {
    ScratchDir scratch;
    scratch.Write("main.fx", ReadFile(HOTFX_EXAMPLE));
    double loaded = 0, peakKb = 0;
    for (auto _ : state) {
        int output            = -1;
        const auto begin      = Clock::now();
        const pid_t pid       = Start(HOTFX_FIRST_FRAME, scratch.Path(), output);
        const bool loadedOk   = WaitFor(output, "Obj Initialize.\n");
        const auto loadedTime = Clock::now();
        while (WaitFor(output, "\n")) {
        } // to the end of its output
        int status = 0;
        rusage usage{};
        wait4(pid, &status, 0, &usage);
        const auto end = Clock::now();
        close(output);
        if (!loadedOk || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            return state.SkipWithError("the program did not start and exit cleanly");
        state.SetIterationTime(std::chrono::duration<double>(end - begin).count());
        loaded = Milliseconds(loadedTime - begin);
        peakKb = static_cast<double>(usage.ru_maxrss);
    }
    state.counters["loaded_ms"]   = loaded;
    state.counters["peak_rss_MB"] = peakKb / 1024;
}
BENCHMARK(BM_StartUp)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(10)
    ->ReportAggregatesOnly();

// A field of /proc/<pid>/status in kB ("VmRSS:", "RssAnon:", "RssFile:").
double StatusKb(pid_t pid, const std::string &field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0) return std::atof(line.c_str() + field.size());
    return -1;
}

// Memory private to the program's children (the HLSL compile server, forked
// from the program and sharing its unchanged pages), in kB.
double ChildrenPrivateKb(pid_t pid) {
    std::ifstream children("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) +
                           "/children");
    double total = 0;
    for (pid_t child; children >> child;) {
        std::ifstream rollup("/proc/" + std::to_string(child) + "/smaps_rollup");
        std::string line;
        while (std::getline(rollup, line))
            if (line.rfind("Private_", 0) == 0)
                total += std::atof(line.c_str() + line.find(':') + 1);
    }
    return total;
}

void BM_Memory(benchmark::State &state) {
    ScratchDir scratch;
    scratch.Write("main.fx", ReadFile(HOTFX_EXAMPLE));
    double residentKb = 0, anonymousKb = 0, fileKb = 0, serverKb = 0;
    for (auto _ : state) {
        int output      = -1;
        const pid_t pid = Start(HOTFX_PROGRAM, scratch.Path(), output);
        const bool ok   = WaitFor(output, "Obj Initialize.\n");
        std::this_thread::sleep_for(std::chrono::seconds(1)); // some 50 frames
        residentKb  = StatusKb(pid, "VmRSS:");
        anonymousKb = StatusKb(pid, "RssAnon:");
        fileKb      = StatusKb(pid, "RssFile:");
        serverKb    = ChildrenPrivateKb(pid);
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        close(output);
        if (!ok || residentKb <= 0) return state.SkipWithError("the program did not start");
        state.SetIterationTime(1); // the time here means nothing
    }
    // Resident in all, then its part private to the process and its part
    // mapped from files (libraries: Mesa's llvmpipe loads LLVM).
    state.counters["rss_MB"]            = residentKb / 1024;
    state.counters["anon_MB"]           = anonymousKb / 1024;
    state.counters["file_MB"]           = fileKb / 1024;
    state.counters["server_private_MB"] = serverKb / 1024;
}
BENCHMARK(BM_Memory)->UseManualTime()->Iterations(1)->Repetitions(5)->ReportAggregatesOnly();

} // namespace

int main(int argc, char **argv) {
    // Always llvmpipe under an Xvfb of our own, so numbers compare.
    auto xvfb = std::make_unique<Xvfb>();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    {
        Capture quiet;
        CloseProgram();
    }
    std::cout.flush();
    // Nothing may touch the display once its server is gone, not even the
    // libraries' exit handlers.
    xvfb.reset();
    _exit(0);
}
