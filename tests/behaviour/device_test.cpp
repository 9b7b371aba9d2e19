// The device, swap chain, render target and viewport, their failures and
// their release.
#include "harness.h"

TEST_F(Behaviour, InitDeviceCreatesAHardwareDeviceAndBindsTheBackBuffer) {
    HWND window = fake::NewWindow();
    EXPECT_EQ(InitDevice(window, 1024, 768), 0);
    EXPECT_THAT(
        fake::Calls(),
        ElementsAre("D3D11CreateDeviceAndSwapChain(null, 1, null, 0x0, null, 0, 7, {1024x768 60/1 "
                    "format=28 scanline=0 scaling=0 samples=1,0 usage=0x20 buffers=1 "
                    "window=hwnd#1 windowed=1 effect=0 flags=0x2}, &null, &null, null, &null) "
                    "-> swapchain#1 device#1 context#1",
                    "swapchain#1.GetBuffer(0, {6f15aaf2-d208-4e89-9ab4-489535d34f9c}, &null) -> "
                    "texture#1",
                    "device#1.CreateRenderTargetView(texture#1, null, &null) -> rtv#1",
                    "texture#1.Release()", "context#1.OMSetRenderTargets(1, {rtv#1}, null)",
                    "context#1.RSSetViewports(1, {{0, 0, 1024, 768, 0, 1}})"));
    EXPECT_THAT(fake::Alive(), ElementsAreArray(kDeviceObjects));
    EXPECT_EQ(fake::Output(), "");
    EXPECT_THAT(fake::DebugOutput(), IsEmpty());
}

TEST_F(Behaviour, ReleaseDeviceReleasesTargetSwapChainContextDeviceOnce) {
    ASSERT_EQ(InitDevice(fake::NewWindow(), 640, 480), 0);
    // The size comes from the arguments, for the buffers and the viewport.
    EXPECT_THAT(fake::Calls().front(), testing::HasSubstr("{640x480 "));
    EXPECT_EQ(fake::Calls().back(), "context#1.RSSetViewports(1, {{0, 0, 640, 480, 0, 1}})");

    fake::ClearCalls();
    EXPECT_EQ(ReleaseDevice(), 0);
    EXPECT_THAT(Releases(), ElementsAre("rtv#1", "swapchain#1", "context#1", "device#1"));
    EXPECT_THAT(fake::Alive(), IsEmpty());
    EXPECT_EQ(ReleaseDevice(), 0); // the slots are null now: nothing more to release
    EXPECT_EQ(fake::Calls().size(), 4u);
}

struct DeviceStep {
    const char *call;
    const char *message;
    std::vector<std::string> callsAfter; // logged after the failing call
    std::vector<std::string> leftovers;  // what ReleaseDevice then releases
};

class DeviceFailure : public Behaviour, public testing::WithParamInterface<DeviceStep> {};

TEST_P(DeviceFailure, ReportsOnBothChannelsStopsAndLeavesTheRestToRelease) {
    const DeviceStep &step = GetParam();
    const HRESULT code     = static_cast<HRESULT>(0x887A0004); // DXGI_ERROR_UNSUPPORTED
    fake::Fail(step.call, code);

    EXPECT_EQ(InitDevice(fake::NewWindow(), 1024, 768), code);
    // The debugger gets the text without a line end, standard output with one.
    EXPECT_THAT(fake::DebugOutput(), ElementsAre(step.message));
    EXPECT_EQ(fake::Output(), std::string(step.message) + "\n");
    const auto &calls = fake::Calls();
    EXPECT_THAT(std::vector<std::string>(calls.begin() + FirstCall(step.call) + 1, calls.end()),
                ElementsAreArray(step.callsAfter));
    EXPECT_EQ(deviceObjects.d3drendertarget, nullptr);

    fake::ClearCalls();
    ReleaseDevice(); // skips the null slots
    EXPECT_THAT(Releases(), ElementsAreArray(step.leftovers));
    EXPECT_THAT(fake::Alive(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Steps, DeviceFailure,
    testing::Values(DeviceStep{"D3D11CreateDeviceAndSwapChain",
                               "ERROR : D3D11CreateDeviceAndSwapChain",
                               {"OutputDebugStringA(ERROR : D3D11CreateDeviceAndSwapChain)"},
                               {}},
                    DeviceStep{"GetBuffer",
                               "ERROR : d3dswapchain->GetBuffer",
                               {"OutputDebugStringA(ERROR : d3dswapchain->GetBuffer)"},
                               {"swapchain#1", "context#1", "device#1"}},
                    DeviceStep{"CreateRenderTargetView",
                               "ERROR : CreateRenderTargetView",
                               {"texture#1.Release()",
                                "OutputDebugStringA(ERROR : CreateRenderTargetView)"},
                               {"swapchain#1", "context#1", "device#1"}}),
    [](const testing::TestParamInfo<DeviceStep> &info) { return std::string(info.param.call); });

TEST_F(Behaviour, InitDeviceReturnsAPositiveCodeOfCreateRenderTargetViewAfterBinding) {
    fake::Fail("CreateRenderTargetView", 1); // S_FALSE: a view, and a nonzero result
    EXPECT_EQ(InitDevice(fake::NewWindow(), 1024, 768), 1);
    EXPECT_EQ(CallName(fake::Calls().back()), "RSSetViewports");
    EXPECT_EQ(fake::Output(), "");
    EXPECT_THAT(fake::DebugOutput(), IsEmpty());
    ReleaseDevice();
    EXPECT_THAT(fake::Alive(), IsEmpty());
}
