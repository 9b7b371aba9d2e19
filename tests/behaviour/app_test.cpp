// The window class, the window procedure and the whole program run in-process.
#include "harness.h"

#include <functional>

static int RunProgram(std::vector<std::string> args = {"hotfx"}) {
    std::vector<char *> argv;
    for (std::string &arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    return HotfxMain(static_cast<int>(args.size()), argv.data());
}

TEST_F(Behaviour, WindowClassIsFilledDuringStaticInitialisation) {
    EXPECT_THAT(fake::StaticInitCalls(), ElementsAre("LoadIconA(null, 32512) -> icon#1",
                                                     "LoadCursorA(null, 32512) -> cursor#1",
                                                     "GetStockObject(4) -> brush#1"));
    const WNDCLASSEXA &c = WindowClass;
    EXPECT_EQ(c.cbSize, sizeof(WNDCLASSEXA)); // 48 only where pointers are 32 bits
    EXPECT_EQ(c.style, 0x43u);
    EXPECT_EQ(c.lpfnWndProc, &WindowProc);
    EXPECT_EQ(c.cbClsExtra + c.cbWndExtra, 0);
    EXPECT_EQ(fake::NameOf(c.hIcon), "icon#1");
    EXPECT_EQ(fake::NameOf(c.hCursor), "cursor#1");
    EXPECT_EQ(fake::NameOf(c.hbrBackground), "brush#1");
    EXPECT_EQ(c.lpszMenuName, nullptr);
    EXPECT_STREQ(c.lpszClassName, "test");
    EXPECT_EQ(c.hIconSm, nullptr);
}

struct Row {
    const char *name;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    std::vector<std::string> calls;
    bool passedOn; // returns what DefWindowProcA returned, else 0
};

class WindowProcedure : public Behaviour, public testing::WithParamInterface<Row> {};

TEST_P(WindowProcedure, HandlesItsMessages) {
    const Row &row          = GetParam();
    const LRESULT byDefault = 0x5EED;
    fake::SetDefWindowProcResult(byDefault);
    HWND window = fake::NewWindow();
    EXPECT_EQ(WindowProc(window, row.message, row.wParam, row.lParam),
              row.passedOn ? byDefault : 0);
    EXPECT_THAT(fake::Calls(), ElementsAreArray(row.calls));
}

INSTANTIATE_TEST_SUITE_P(
    Table, WindowProcedure,
    testing::Values(
        Row{"Destroy", WM_DESTROY, 0, 0, {"PostQuitMessage(0)"}, false},
        Row{"Close", WM_CLOSE, 0, 0, {"PostQuitMessage(0)"}, false},
        // Esc quits and still goes to the default handling.
        Row{"Escape",
            WM_KEYDOWN,
            VK_ESCAPE,
            0x10001,
            {"PostQuitMessage(0)", "DefWindowProcA(hwnd#1, 0x100, 0x1b, 0x10001)"},
            true},
        Row{"OtherKey",
            WM_KEYDOWN,
            'A',
            0x1E0001,
            {"DefWindowProcA(hwnd#1, 0x100, 0x41, 0x1e0001)"},
            true},
        Row{"F5Key", WM_KEYDOWN, VK_F5, 0, {"DefWindowProcA(hwnd#1, 0x100, 0x74, 0x0)"}, true},
        Row{"EscapeUp", WM_KEYUP, VK_ESCAPE, 0, {"DefWindowProcA(hwnd#1, 0x101, 0x1b, 0x0)"}, true},
        Row{"EscapeChar", WM_CHAR, 27, 0, {"DefWindowProcA(hwnd#1, 0x102, 0x1b, 0x0)"}, true},
        // The screen saver and monitor power-down are swallowed, whatever the
        // low four bits of the command.
        Row{"ScreenSave", WM_SYSCOMMAND, SC_SCREENSAVE, 0, {}, false},
        Row{"ScreenSaveLowBits", WM_SYSCOMMAND, SC_SCREENSAVE | 0x3, 0, {}, false},
        Row{"MonitorPower", WM_SYSCOMMAND, SC_MONITORPOWER, 2, {}, false},
        Row{"MonitorPowerLowBits", WM_SYSCOMMAND, SC_MONITORPOWER | 0xF, 1, {}, false},
        Row{"SysClose",
            WM_SYSCOMMAND,
            SC_CLOSE,
            0,
            {"DefWindowProcA(hwnd#1, 0x112, 0xf060, 0x0)"},
            true},
        Row{"SysMove",
            WM_SYSCOMMAND,
            SC_MOVE | 0x2,
            0,
            {"DefWindowProcA(hwnd#1, 0x112, 0xf012, 0x0)"},
            true},
        Row{"SysMinimize",
            WM_SYSCOMMAND,
            SC_MINIMIZE,
            0,
            {"DefWindowProcA(hwnd#1, 0x112, 0xf020, 0x0)"},
            true},
        // The input-method context loses every ISC_SHOWUI bit and keeps the rest.
        Row{"ImeShowAll",
            WM_IME_SETCONTEXT,
            1,
            static_cast<LPARAM>(ISC_SHOWUIALL),
            {"DefWindowProcA(hwnd#1, 0x281, 0x1, 0x0)"},
            true},
        Row{"ImeMixed",
            WM_IME_SETCONTEXT,
            0,
            static_cast<LPARAM>(0xD234567F),
            {"DefWindowProcA(hwnd#1, 0x281, 0x0, 0x12345670)"},
            true},
        Row{"ImeAllBits",
            WM_IME_SETCONTEXT,
            1,
            -1,
            {"DefWindowProcA(hwnd#1, 0x281, 0x1, 0x3ffffff0)"},
            true},
        Row{"Other",
            0x0005 /* WM_SIZE */,
            0,
            0x03000400,
            {"DefWindowProcA(hwnd#1, 0x5, 0x0, 0x3000400)"},
            true}),
    [](const testing::TestParamInfo<Row> &info) { return std::string(info.param.name); });

TEST_F(Behaviour, ProgramStartsUpInOrder) {
    fake::Post(WM_CLOSE);
    EXPECT_EQ(RunProgram(), 0);
    const auto &calls = fake::Calls();
    ASSERT_GT(calls.size(), 6u);
    EXPECT_THAT(
        std::vector<std::string>(calls.begin(), calls.begin() + 5),
        ElementsAre("GetModuleHandleA(null) -> hinstance#1",
                    "RegisterClassExA({cbSize=" + std::to_string(sizeof(WNDCLASSEXA)) +
                        " style=0x43 extra=0,0 instance=hinstance#1 icon=icon#1 cursor=cursor#1 "
                        "background=brush#1 menu=null class=test iconSm=null})",
                    "CreateWindowExA(0x40100, test, test, 0xcf0000, 0, 0, 1024, 768, null, null, "
                    "hinstance#1, null) -> hwnd#1",
                    "ShowWindow(hwnd#1, 5)", "UpdateWindow(hwnd#1)"));
    EXPECT_THAT(calls[5], testing::StartsWith("D3D11CreateDeviceAndSwapChain("));
    EXPECT_THAT(calls[5], testing::HasSubstr("{1024x768 "));
    EXPECT_THAT(calls[5], testing::HasSubstr(" window=hwnd#1 "));
    // One load, after the device and before the loop.
    EXPECT_EQ(Only({"D3DX11CompileFromFileA"}).size(), 3u);
    EXPECT_LT(FirstCall("CreateBuffer"), FirstCall("PeekMessageA"));
}

static const std::vector<std::string> kLoopCalls = {
    "PeekMessageA",    "TranslateMessage", "DispatchMessageA", "DefWindowProcA",
    "PostQuitMessage", "GetAsyncKeyState", "Present",          "Sleep"};

TEST_F(Behaviour, LoopDrainsMessagesRendersAndSleepsThenOneMoreFrameAfterQuit) {
    fake::Post(WM_KEYDOWN, 'A');
    fake::Idle();
    fake::Post(WM_KEYDOWN, VK_ESCAPE);
    EXPECT_EQ(RunProgram(), 0);
    const std::string peek = "PeekMessageA(&msg, null, 0, 0, 1) -> ";
    EXPECT_THAT(Only(kLoopCalls),
                ElementsAre(peek + "0x100", "TranslateMessage({hwnd#1, 0x100, 0x41, 0x0})",
                            "DispatchMessageA({hwnd#1, 0x100, 0x41, 0x0})",
                            "DefWindowProcA(hwnd#1, 0x100, 0x41, 0x0)", peek + "none",
                            "GetAsyncKeyState(0x74)", "swapchain#1.Present(0, 0)", "Sleep(16)",
                            peek + "0x100", "TranslateMessage({hwnd#1, 0x100, 0x1b, 0x0})",
                            "DispatchMessageA({hwnd#1, 0x100, 0x1b, 0x0})", "PostQuitMessage(0)",
                            "DefWindowProcA(hwnd#1, 0x100, 0x1b, 0x0)", peek + "0x12",
                            "GetAsyncKeyState(0x74)", "swapchain#1.Present(0, 0)", "Sleep(16)"));
    // Scene before device, each in its own order, every object exactly once.
    EXPECT_THAT(Releases(FirstCall("Sleep")),
                ElementsAre("buffer#1", "rs#1", "ps#1", "gs#1", "vs#1", "rtv#1", "swapchain#1",
                            "context#1", "device#1"));
    EXPECT_THAT(fake::Alive(), IsEmpty());
    EXPECT_EQ(fake::Output(), "Loaded.\nObj Initialize.\n");
}

TEST_F(Behaviour, QuitStopsTheDrainWithoutDispatchAndTheExitCodeIsNotItsParameter) {
    fake::Post(WM_QUIT, 7);
    fake::Post(WM_KEYDOWN, 'A'); // left in the queue
    EXPECT_EQ(RunProgram(), 0);
    EXPECT_THAT(Only(kLoopCalls),
                ElementsAre("PeekMessageA(&msg, null, 0, 0, 1) -> 0x12", "GetAsyncKeyState(0x74)",
                            "swapchain#1.Present(0, 0)", "Sleep(16)"));
    EXPECT_THAT(fake::Alive(), IsEmpty());
}

TEST_F(Behaviour, ReloadKeyMendsAFailedFirstLoadAndGateLinesPrintUntilThen) {
    fake::Fail("D3DX11CompileFromFileA", kFail, 1);
    fake::Idle(2);
    fake::Post(WM_CLOSE);
    fake::ScriptKeys({0, 1});
    EXPECT_EQ(RunProgram(), 0);
    EXPECT_EQ(fake::Output(), "ERROR : scene : 112 0x80004005 : CompileShaderFromFile VS\n"
                              "vshader = 00000000\n"
                              "gshader   =00000000\n"
                              "pshader   =00000000\n"
                              "pConstant =00000000\n"
                              "pRSStage  =00000000\n"
                              "Loaded.\n"
                              "Obj Initialize.\n");
    EXPECT_EQ(Only({"Present"}).size(), 2u);
    EXPECT_THAT(fake::Alive(), IsEmpty());
}

TEST_F(Behaviour, CommandLineArgumentsChangeNothing) {
    fake::Post(WM_KEYDOWN, VK_ESCAPE);
    ASSERT_EQ(RunProgram({"hotfx"}), 0);
    const auto calls = fake::Calls();
    const auto out   = fake::Output();

    fake::Reset();
    fake::Post(WM_KEYDOWN, VK_ESCAPE);
    EXPECT_EQ(RunProgram({"hotfx", "--help", "other.fx", "-w", "1"}), 0);
    EXPECT_EQ(fake::Calls(), calls);
    EXPECT_EQ(fake::Output(), out);
}

struct Exit {
    const char *name;
    std::function<void()> script;
    int code;
    const char *output;
    std::vector<std::string> debug;
    bool loops; // entered the message loop
};

class ExitPath : public Behaviour, public testing::WithParamInterface<Exit> {};

TEST_P(ExitPath, EndsWithItsCodeAndEveryObjectReleasedOnce) {
    const Exit &exit = GetParam();
    exit.script();
    EXPECT_EQ(RunProgram(), exit.code);
    EXPECT_EQ(fake::Output(), exit.output);
    EXPECT_EQ(fake::DebugOutput(), exit.debug);
    EXPECT_EQ(FirstCall("PeekMessageA") < fake::Calls().size(), exit.loops);
    EXPECT_EQ(FirstCall("D3DX11CompileFromFileA") < fake::Calls().size(), exit.loops);
    EXPECT_THAT(fake::Alive(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Paths, ExitPath,
    testing::Values(
        Exit{"Escape",
             [] { fake::Post(WM_KEYDOWN, VK_ESCAPE); },
             0,
             "Loaded.\nObj Initialize.\n",
             {},
             true},
        Exit{"Close", [] { fake::Post(WM_CLOSE); }, 0, "Loaded.\nObj Initialize.\n", {}, true},
        Exit{"Destroy", [] { fake::Post(WM_DESTROY); }, 0, "Loaded.\nObj Initialize.\n", {}, true},
        Exit{"RegistrationFails", [] { fake::Fail("RegisterClassExA", 0); }, 1, "", {}, false},
        Exit{"WindowFails",
             [] { fake::Fail("CreateWindowExA", 0); },
             0,
             "",
             {"ERROR : Can't Create Window"},
             false},
        Exit{"DeviceFails",
             [] { fake::Fail("D3D11CreateDeviceAndSwapChain", kFail); },
             0,
             "ERROR : D3D11CreateDeviceAndSwapChain\n",
             {"ERROR : D3D11CreateDeviceAndSwapChain"},
             false},
        Exit{"TargetFails",
             [] { fake::Fail("CreateRenderTargetView", kFail); },
             0,
             "ERROR : CreateRenderTargetView\n",
             {"ERROR : CreateRenderTargetView"},
             false},
        // A success code from the render target still stops start-up, silently.
        Exit{"TargetSuccessCode",
             [] { fake::Fail("CreateRenderTargetView", 1); },
             0,
             "",
             {},
             false}),
    [](const testing::TestParamInfo<Exit> &info) { return std::string(info.param.name); });

TEST_F(Behaviour, RegistrationFailureStopsBeforeTheWindow) {
    fake::Fail("RegisterClassExA", 0);
    EXPECT_EQ(RunProgram(), 1);
    EXPECT_EQ(fake::Calls().size(), 2u);
    EXPECT_EQ(CallName(fake::Calls().back()), "RegisterClassExA");
}

TEST_F(Behaviour, WindowFailureStopsBeforeShowingOrTheDevice) {
    fake::Fail("CreateWindowExA", 0);
    EXPECT_EQ(RunProgram(), 0);
    EXPECT_EQ(CallName(fake::Calls().back()), "OutputDebugStringA");
    EXPECT_EQ(FirstCall("ShowWindow"), fake::Calls().size());
}
