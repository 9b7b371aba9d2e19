// Portable declarations of the Direct3D 11, DXGI and D3DX11 subset hotfx uses.
// Interfaces are abstract classes holding only the methods the system calls;
// every object is reference counted with AddRef/Release as on Windows.
#pragma once

#include "platform/portable/win32.h"

#define DXGI_ERROR_UNSUPPORTED ((HRESULT)0x887A0004)

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
typedef GUID IID;
typedef const IID &REFIID;

inline bool operator==(const GUID &a, const GUID &b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}

inline constexpr IID IID_ID3D11Texture2D = {
    0x6f15aaf2, 0xd208, 0x4e89, {0x9a, 0xb4, 0x48, 0x95, 0x35, 0xd3, 0x4f, 0x9c}};

#define D3D11_SDK_VERSION 7
#define D3D10_SHADER_ENABLE_STRICTNESS (1 << 11)

enum D3D_DRIVER_TYPE {
    D3D_DRIVER_TYPE_UNKNOWN   = 0,
    D3D_DRIVER_TYPE_HARDWARE  = 1,
    D3D_DRIVER_TYPE_REFERENCE = 2,
    D3D_DRIVER_TYPE_NULL      = 3,
    D3D_DRIVER_TYPE_SOFTWARE  = 4,
    D3D_DRIVER_TYPE_WARP      = 5,
};

enum D3D_FEATURE_LEVEL {
    D3D_FEATURE_LEVEL_10_0 = 0xa000,
    D3D_FEATURE_LEVEL_10_1 = 0xa100,
    D3D_FEATURE_LEVEL_11_0 = 0xb000,
};

enum DXGI_FORMAT { DXGI_FORMAT_UNKNOWN = 0, DXGI_FORMAT_R8G8B8A8_UNORM = 28 };
enum DXGI_MODE_SCANLINE_ORDER { DXGI_MODE_SCANLINE_ORDER_UNSPECIFIED = 0 };
enum DXGI_MODE_SCALING { DXGI_MODE_SCALING_UNSPECIFIED = 0 };
enum DXGI_SWAP_EFFECT { DXGI_SWAP_EFFECT_DISCARD = 0 };
#define DXGI_USAGE_RENDER_TARGET_OUTPUT 0x00000020UL
#define DXGI_SWAP_CHAIN_FLAG_ALLOW_MODE_SWITCH 2
typedef UINT DXGI_USAGE;

struct DXGI_RATIONAL {
    UINT Numerator;
    UINT Denominator;
};

struct DXGI_MODE_DESC {
    UINT Width;
    UINT Height;
    DXGI_RATIONAL RefreshRate;
    DXGI_FORMAT Format;
    DXGI_MODE_SCANLINE_ORDER ScanlineOrdering;
    DXGI_MODE_SCALING Scaling;
};

struct DXGI_SAMPLE_DESC {
    UINT Count;
    UINT Quality;
};

struct DXGI_SWAP_CHAIN_DESC {
    DXGI_MODE_DESC BufferDesc;
    DXGI_SAMPLE_DESC SampleDesc;
    DXGI_USAGE BufferUsage;
    UINT BufferCount;
    HWND OutputWindow;
    BOOL Windowed;
    DXGI_SWAP_EFFECT SwapEffect;
    UINT Flags;
};

struct D3D11_VIEWPORT {
    FLOAT TopLeftX;
    FLOAT TopLeftY;
    FLOAT Width;
    FLOAT Height;
    FLOAT MinDepth;
    FLOAT MaxDepth;
};

struct D3D11_BOX {
    UINT left, top, front, right, bottom, back;
};

enum D3D11_FILL_MODE { D3D11_FILL_WIREFRAME = 2, D3D11_FILL_SOLID = 3 };
enum D3D11_CULL_MODE { D3D11_CULL_NONE = 1, D3D11_CULL_FRONT = 2, D3D11_CULL_BACK = 3 };

struct D3D11_RASTERIZER_DESC {
    D3D11_FILL_MODE FillMode;
    D3D11_CULL_MODE CullMode;
    BOOL FrontCounterClockwise;
    int DepthBias;
    FLOAT DepthBiasClamp;
    FLOAT SlopeScaledDepthBias;
    BOOL DepthClipEnable;
    BOOL ScissorEnable;
    BOOL MultisampleEnable;
    BOOL AntialiasedLineEnable;
};

enum D3D11_USAGE {
    D3D11_USAGE_DEFAULT   = 0,
    D3D11_USAGE_IMMUTABLE = 1,
    D3D11_USAGE_DYNAMIC   = 2,
    D3D11_USAGE_STAGING   = 3,
};

enum D3D11_BIND_FLAG { D3D11_BIND_CONSTANT_BUFFER = 0x4L };

struct D3D11_BUFFER_DESC {
    UINT ByteWidth;
    D3D11_USAGE Usage;
    UINT BindFlags;
    UINT CPUAccessFlags;
    UINT MiscFlags;
    UINT StructureByteStride;
};

struct D3D11_SUBRESOURCE_DATA {
    const void *pSysMem;
    UINT SysMemPitch;
    UINT SysMemSlicePitch;
};

enum D3D11_PRIMITIVE_TOPOLOGY {
    D3D11_PRIMITIVE_TOPOLOGY_UNDEFINED = 0,
    D3D11_PRIMITIVE_TOPOLOGY_POINTLIST = 1,
};

struct D3D11_RENDER_TARGET_VIEW_DESC; // never passed: the system always gives null
struct D3D10_SHADER_MACRO;            // never passed
struct ID3D10Include;                 // never passed
struct ID3DX11ThreadPump;             // never passed
typedef ID3D10Include *LPD3D10INCLUDE;

struct IUnknown {
    virtual ~IUnknown()                          = default;
    virtual uint32_t STDMETHODCALLTYPE AddRef()  = 0;
    virtual uint32_t STDMETHODCALLTYPE Release() = 0;
};

struct ID3D10Blob : IUnknown {
    virtual LPVOID STDMETHODCALLTYPE GetBufferPointer() = 0;
    virtual SIZE_T STDMETHODCALLTYPE GetBufferSize()    = 0;
};
typedef ID3D10Blob ID3DBlob;

struct ID3D11DeviceChild : IUnknown {};
struct ID3D11Resource : ID3D11DeviceChild {};
struct ID3D11Texture2D : ID3D11Resource {};
struct ID3D11Buffer : ID3D11Resource {};
struct ID3D11RenderTargetView : ID3D11DeviceChild {};
struct ID3D11DepthStencilView : ID3D11DeviceChild {};
struct ID3D11VertexShader : ID3D11DeviceChild {};
struct ID3D11GeometryShader : ID3D11DeviceChild {};
struct ID3D11PixelShader : ID3D11DeviceChild {};
struct ID3D11RasterizerState : ID3D11DeviceChild {};
struct ID3D11InputLayout : ID3D11DeviceChild {};
struct ID3D11ClassLinkage : ID3D11DeviceChild {};
struct ID3D11ClassInstance : ID3D11DeviceChild {};
struct IDXGIAdapter : IUnknown {};

struct IDXGISwapChain : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetBuffer(UINT buffer, REFIID riid, void **surface) = 0;
    virtual HRESULT STDMETHODCALLTYPE Present(UINT syncInterval, UINT flags)              = 0;
};

struct ID3D11Device : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE
    CreateRenderTargetView(ID3D11Resource *resource, const D3D11_RENDER_TARGET_VIEW_DESC *desc,
                           ID3D11RenderTargetView **view)                                  = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateVertexShader(const void *bytecode, SIZE_T length,
                                                         ID3D11ClassLinkage *linkage,
                                                         ID3D11VertexShader **shader)      = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateGeometryShader(const void *bytecode, SIZE_T length,
                                                           ID3D11ClassLinkage *linkage,
                                                           ID3D11GeometryShader **shader)  = 0;
    virtual HRESULT STDMETHODCALLTYPE CreatePixelShader(const void *bytecode, SIZE_T length,
                                                        ID3D11ClassLinkage *linkage,
                                                        ID3D11PixelShader **shader)        = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateRasterizerState(const D3D11_RASTERIZER_DESC *desc,
                                                            ID3D11RasterizerState **state) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateBuffer(const D3D11_BUFFER_DESC *desc,
                                                   const D3D11_SUBRESOURCE_DATA *initialData,
                                                   ID3D11Buffer **buffer)                  = 0;
};

struct ID3D11DeviceContext : IUnknown {
    virtual void STDMETHODCALLTYPE OMSetRenderTargets(UINT count,
                                                      ID3D11RenderTargetView *const *views,
                                                      ID3D11DepthStencilView *depth)           = 0;
    virtual void STDMETHODCALLTYPE RSSetViewports(UINT count, const D3D11_VIEWPORT *viewports) = 0;
    virtual void STDMETHODCALLTYPE ClearRenderTargetView(ID3D11RenderTargetView *view,
                                                         const FLOAT colour[4])                = 0;
    virtual void STDMETHODCALLTYPE RSSetState(ID3D11RasterizerState *state)                    = 0;
    virtual void STDMETHODCALLTYPE UpdateSubresource(ID3D11Resource *resource, UINT subresource,
                                                     const D3D11_BOX *box, const void *data,
                                                     UINT rowPitch, UINT depthPitch)           = 0;
    virtual void STDMETHODCALLTYPE VSSetShader(ID3D11VertexShader *shader,
                                               ID3D11ClassInstance *const *instances,
                                               UINT instanceCount)                             = 0;
    virtual void STDMETHODCALLTYPE GSSetShader(ID3D11GeometryShader *shader,
                                               ID3D11ClassInstance *const *instances,
                                               UINT instanceCount)                             = 0;
    virtual void STDMETHODCALLTYPE PSSetShader(ID3D11PixelShader *shader,
                                               ID3D11ClassInstance *const *instances,
                                               UINT instanceCount)                             = 0;
    virtual void STDMETHODCALLTYPE VSSetConstantBuffers(UINT slot, UINT count,
                                                        ID3D11Buffer *const *buffers)          = 0;
    virtual void STDMETHODCALLTYPE GSSetConstantBuffers(UINT slot, UINT count,
                                                        ID3D11Buffer *const *buffers)          = 0;
    virtual void STDMETHODCALLTYPE PSSetConstantBuffers(UINT slot, UINT count,
                                                        ID3D11Buffer *const *buffers)          = 0;
    virtual void STDMETHODCALLTYPE IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY topology)   = 0;
    virtual void STDMETHODCALLTYPE IASetInputLayout(ID3D11InputLayout *layout)                 = 0;
    virtual void STDMETHODCALLTYPE DrawInstanced(UINT vertexCountPerInstance, UINT instanceCount,
                                                 UINT startVertex, UINT startInstance)         = 0;
};

HRESULT WINAPI D3D11CreateDeviceAndSwapChain(
    IDXGIAdapter *adapter, D3D_DRIVER_TYPE driverType, HMODULE software, UINT flags,
    const D3D_FEATURE_LEVEL *featureLevels, UINT featureLevelCount, UINT sdkVersion,
    const DXGI_SWAP_CHAIN_DESC *swapChainDesc, IDXGISwapChain **swapChain, ID3D11Device **device,
    D3D_FEATURE_LEVEL *featureLevel, ID3D11DeviceContext **context);
