// The double's Direct3D 11 runtime and shader compiler: reference-counted
// objects that record every call made on them.
#include "state.h"

#include <cstring>

using namespace fake::detail;
using fake::NameOf;

namespace {

template <class I> struct Counted : I, Tracked {
    uint32_t STDMETHODCALLTYPE AddRef() override {
        LogMethod(this, "AddRef", "");
        return static_cast<uint32_t>(++refs);
    }
    uint32_t STDMETHODCALLTYPE Release() override {
        LogMethod(this, "Release", "");
        if (refs <= 0) {
            Fault(name + ".Release after its last Release");
            return 0;
        }
        return static_cast<uint32_t>(--refs);
    }
};

struct Blob : Counted<ID3D10Blob> {
    std::unique_ptr<char[]> data; // `size` bytes and a guard byte
    size_t size = 0;
    LPVOID STDMETHODCALLTYPE GetBufferPointer() override {
        LogMethod(this, "GetBufferPointer", "");
        return data.get();
    }
    SIZE_T STDMETHODCALLTYPE GetBufferSize() override {
        LogMethod(this, "GetBufferSize", "");
        return size;
    }
};

struct Buffer : Counted<ID3D11Buffer> {
    std::vector<unsigned char> contents;
};

template <class T> T *Find(const void *pointer) {
    auto at = S().objectAt.find(pointer);
    return at == S().objectAt.end() ? nullptr : dynamic_cast<T *>(at->second);
}

// Shader creation names the blob whose bytes it was given, when it was given
// all of them.
std::string Bytecode(const void *bytes, SIZE_T length) {
    for (const auto &object : S().objects) {
        const Blob *blob = dynamic_cast<const Blob *>(object.get());
        if (blob && blob->data.get() == bytes && blob->size == length) return blob->name;
    }
    return Str("bytes[", length, "]");
}

template <class T> std::string List(UINT count, T *const *items) {
    if (!items) return "null";
    std::string text = "{";
    for (UINT i = 0; i < count; ++i)
        text += (i ? ", " : "") + NameOf(items[i]);
    return text + "}";
}

std::string Guid(const GUID &g) {
    char text[64];
    std::snprintf(text, sizeof text, "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                  static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

// A creation method: a negative scripted result hands out nothing, any other
// result hands out a new object of `kind` and is returned as it is.
template <class T, class I>
HRESULT Create(const void *self, const std::string &method, const std::string &args,
               const std::string &kind, I **out) {
    HRESULT hr             = 0;
    const std::string call = args + ", " + OutSlot(out);
    if ((Injected(method, &hr) && hr < 0) || !out) {
        if (out) *out = nullptr;
        LogMethod(self, method, call);
        return hr;
    }
    T *object = Adopt(std::make_unique<T>(), kind);
    *out      = object;
    LogMethod(self, method, call, object->name);
    return hr;
}

struct Device : Counted<ID3D11Device> {
    HRESULT STDMETHODCALLTYPE CreateRenderTargetView(ID3D11Resource *resource,
                                                     const D3D11_RENDER_TARGET_VIEW_DESC *desc,
                                                     ID3D11RenderTargetView **view) override {
        return Create<Counted<ID3D11RenderTargetView>>(
            this, "CreateRenderTargetView", Str(NameOf(resource), ", ", desc ? "desc" : "null"),
            "rtv", view);
    }
    HRESULT STDMETHODCALLTYPE CreateVertexShader(const void *bytecode, SIZE_T length,
                                                 ID3D11ClassLinkage *linkage,
                                                 ID3D11VertexShader **shader) override {
        return Create<Counted<ID3D11VertexShader>>(
            this, "CreateVertexShader", Str(Bytecode(bytecode, length), ", ", NameOf(linkage)),
            "vs", shader);
    }
    HRESULT STDMETHODCALLTYPE CreateGeometryShader(const void *bytecode, SIZE_T length,
                                                   ID3D11ClassLinkage *linkage,
                                                   ID3D11GeometryShader **shader) override {
        return Create<Counted<ID3D11GeometryShader>>(
            this, "CreateGeometryShader", Str(Bytecode(bytecode, length), ", ", NameOf(linkage)),
            "gs", shader);
    }
    HRESULT STDMETHODCALLTYPE CreatePixelShader(const void *bytecode, SIZE_T length,
                                                ID3D11ClassLinkage *linkage,
                                                ID3D11PixelShader **shader) override {
        return Create<Counted<ID3D11PixelShader>>(
            this, "CreatePixelShader", Str(Bytecode(bytecode, length), ", ", NameOf(linkage)), "ps",
            shader);
    }
    HRESULT STDMETHODCALLTYPE CreateRasterizerState(const D3D11_RASTERIZER_DESC *d,
                                                    ID3D11RasterizerState **state) override {
        const std::string desc =
            d ? Str("{fill=", d->FillMode, " cull=", d->CullMode, " ccw=", d->FrontCounterClockwise,
                    " bias=", d->DepthBias, " clamp=", d->DepthBiasClamp,
                    " slope=", d->SlopeScaledDepthBias, " clip=", d->DepthClipEnable,
                    " scissor=", d->ScissorEnable, " multisample=", d->MultisampleEnable,
                    " aaline=", d->AntialiasedLineEnable, "}")
              : "null";
        return Create<Counted<ID3D11RasterizerState>>(this, "CreateRasterizerState", desc, "rs",
                                                      state);
    }
    HRESULT STDMETHODCALLTYPE CreateBuffer(const D3D11_BUFFER_DESC *d,
                                           const D3D11_SUBRESOURCE_DATA *initialData,
                                           ID3D11Buffer **buffer) override {
        const std::string desc =
            d ? Str("{width=", d->ByteWidth, " usage=", d->Usage, " bind=", Hex(d->BindFlags),
                    " cpu=", d->CPUAccessFlags, " misc=", d->MiscFlags,
                    " stride=", d->StructureByteStride, "}")
              : "null";
        HRESULT hr = Create<Buffer>(
            this, "CreateBuffer", Str(desc, ", ", initialData ? "data" : "null"), "buffer", buffer);
        if (d && buffer && *buffer) static_cast<Buffer *>(*buffer)->contents.resize(d->ByteWidth);
        return hr;
    }
};

struct Context : Counted<ID3D11DeviceContext> {
    void STDMETHODCALLTYPE OMSetRenderTargets(UINT count, ID3D11RenderTargetView *const *views,
                                              ID3D11DepthStencilView *depth) override {
        LogMethod(this, "OMSetRenderTargets",
                  Str(count, ", ", List(count, views), ", ", NameOf(depth)));
    }
    void STDMETHODCALLTYPE RSSetViewports(UINT count, const D3D11_VIEWPORT *v) override {
        std::string list = v ? "{" : "null";
        for (UINT i = 0; v && i < count; ++i)
            list += Str(i ? ", " : "", "{", v[i].TopLeftX, ", ", v[i].TopLeftY, ", ", v[i].Width,
                        ", ", v[i].Height, ", ", v[i].MinDepth, ", ", v[i].MaxDepth, "}");
        LogMethod(this, "RSSetViewports", Str(count, ", ", list, v ? "}" : ""));
    }
    void STDMETHODCALLTYPE ClearRenderTargetView(ID3D11RenderTargetView *view,
                                                 const FLOAT c[4]) override {
        LogMethod(this, "ClearRenderTargetView",
                  Str(NameOf(view), ", {", c[0], ", ", c[1], ", ", c[2], ", ", c[3], "}"));
    }
    void STDMETHODCALLTYPE RSSetState(ID3D11RasterizerState *state) override {
        LogMethod(this, "RSSetState", NameOf(state));
    }
    void STDMETHODCALLTYPE UpdateSubresource(ID3D11Resource *resource, UINT subresource,
                                             const D3D11_BOX *box, const void *data, UINT rowPitch,
                                             UINT depthPitch) override {
        LogMethod(this, "UpdateSubresource",
                  Str(NameOf(resource), ", ", subresource, ", ", box ? "box" : "null", ", ",
                      data ? "data" : "null", ", ", rowPitch, ", ", depthPitch));
        // With no box the whole buffer is replaced from `data`.
        Buffer *buffer = Find<Buffer>(resource);
        if (buffer && !box && data) {
            const auto *bytes = static_cast<const unsigned char *>(data);
            buffer->contents.assign(bytes, bytes + buffer->contents.size());
        }
    }
    void STDMETHODCALLTYPE VSSetShader(ID3D11VertexShader *shader,
                                       ID3D11ClassInstance *const *instances, UINT count) override {
        LogMethod(this, "VSSetShader",
                  Str(NameOf(shader), ", ", List(count, instances), ", ", count));
    }
    void STDMETHODCALLTYPE GSSetShader(ID3D11GeometryShader *shader,
                                       ID3D11ClassInstance *const *instances, UINT count) override {
        LogMethod(this, "GSSetShader",
                  Str(NameOf(shader), ", ", List(count, instances), ", ", count));
    }
    void STDMETHODCALLTYPE PSSetShader(ID3D11PixelShader *shader,
                                       ID3D11ClassInstance *const *instances, UINT count) override {
        LogMethod(this, "PSSetShader",
                  Str(NameOf(shader), ", ", List(count, instances), ", ", count));
    }
    void STDMETHODCALLTYPE VSSetConstantBuffers(UINT slot, UINT count,
                                                ID3D11Buffer *const *buffers) override {
        LogMethod(this, "VSSetConstantBuffers", Str(slot, ", ", count, ", ", List(count, buffers)));
    }
    void STDMETHODCALLTYPE GSSetConstantBuffers(UINT slot, UINT count,
                                                ID3D11Buffer *const *buffers) override {
        LogMethod(this, "GSSetConstantBuffers", Str(slot, ", ", count, ", ", List(count, buffers)));
    }
    void STDMETHODCALLTYPE PSSetConstantBuffers(UINT slot, UINT count,
                                                ID3D11Buffer *const *buffers) override {
        LogMethod(this, "PSSetConstantBuffers", Str(slot, ", ", count, ", ", List(count, buffers)));
    }
    void STDMETHODCALLTYPE IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY topology) override {
        LogMethod(this, "IASetPrimitiveTopology", Str(topology));
    }
    void STDMETHODCALLTYPE IASetInputLayout(ID3D11InputLayout *layout) override {
        LogMethod(this, "IASetInputLayout", NameOf(layout));
    }
    void STDMETHODCALLTYPE DrawInstanced(UINT vertices, UINT instances, UINT startVertex,
                                         UINT startInstance) override {
        LogMethod(this, "DrawInstanced",
                  Str(vertices, ", ", instances, ", ", startVertex, ", ", startInstance));
    }
};

struct SwapChain : Counted<IDXGISwapChain> {
    HRESULT STDMETHODCALLTYPE GetBuffer(UINT index, REFIID riid, void **surface) override {
        const std::string args = Str(index, ", ", Guid(riid));
        if (!(riid == IID_ID3D11Texture2D)) {
            LogMethod(this, "GetBuffer", args + ", " + OutSlot(surface));
            if (surface) *surface = nullptr;
            return E_NOINTERFACE;
        }
        ID3D11Texture2D *texture = nullptr;
        HRESULT hr = Create<Counted<ID3D11Texture2D>>(this, "GetBuffer", args, "texture",
                                                      surface ? &texture : nullptr);
        if (surface) *surface = texture;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Present(UINT syncInterval, UINT flags) override {
        LogMethod(this, "Present", Str(syncInterval, ", ", flags));
        HRESULT hr = 0;
        return Injected("Present", &hr) ? hr : 0;
    }
};

std::string Desc(const DXGI_SWAP_CHAIN_DESC *d) {
    if (!d) return "null";
    const DXGI_MODE_DESC &b = d->BufferDesc;
    return Str("{", b.Width, "x", b.Height, " ", b.RefreshRate.Numerator, "/",
               b.RefreshRate.Denominator, " format=", b.Format, " scanline=", b.ScanlineOrdering,
               " scaling=", b.Scaling, " samples=", d->SampleDesc.Count, ",", d->SampleDesc.Quality,
               " usage=", Hex(d->BufferUsage), " buffers=", d->BufferCount,
               " window=", NameOf(d->OutputWindow), " windowed=", d->Windowed,
               " effect=", d->SwapEffect, " flags=", Hex(d->Flags), "}");
}

} // namespace

HRESULT WINAPI D3D11CreateDeviceAndSwapChain(
    IDXGIAdapter *adapter, D3D_DRIVER_TYPE driverType, HMODULE software, UINT flags,
    const D3D_FEATURE_LEVEL *featureLevels, UINT featureLevelCount, UINT sdkVersion,
    const DXGI_SWAP_CHAIN_DESC *swapChainDesc, IDXGISwapChain **swapChain, ID3D11Device **device,
    D3D_FEATURE_LEVEL *featureLevel, ID3D11DeviceContext **context) {
    std::string call = Str(
        "D3D11CreateDeviceAndSwapChain(", NameOf(adapter), ", ", driverType, ", ", NameOf(software),
        ", ", Hex(flags), ", ", featureLevels ? "levels" : "null", ", ", featureLevelCount, ", ",
        sdkVersion, ", ", Desc(swapChainDesc), ", ", OutSlot(swapChain), ", ", OutSlot(device),
        ", ", featureLevel ? "&level" : "null", ", ", OutSlot(context), ")");
    HRESULT hr = 0;
    if (Injected("D3D11CreateDeviceAndSwapChain", &hr) && hr < 0) {
        if (swapChain) *swapChain = nullptr;
        if (device) *device = nullptr;
        if (context) *context = nullptr;
        Log(call);
        return hr;
    }
    std::string made;
    if (swapChain)
        made += " " + NameOf(*swapChain = Adopt(std::make_unique<SwapChain>(), "swapchain"));
    if (device) made += " " + NameOf(*device = Adopt(std::make_unique<Device>(), "device"));
    if (context) made += " " + NameOf(*context = Adopt(std::make_unique<Context>(), "context"));
    if (featureLevel) *featureLevel = D3D_FEATURE_LEVEL_11_0;
    Log(call + " ->" + made);
    return hr;
}

HRESULT WINAPI D3DX11CompileFromFileA(LPCSTR srcFile, const D3D10_SHADER_MACRO *defines,
                                      LPD3D10INCLUDE include, LPCSTR functionName, LPCSTR profile,
                                      UINT flags1, UINT flags2, ID3DX11ThreadPump *pump,
                                      ID3D10Blob **shader, ID3D10Blob **errorMsgs,
                                      HRESULT *hresult) {
    const std::string entry = functionName ? functionName : "null";
    std::string call        = Str("D3DX11CompileFromFileA(", srcFile ? srcFile : "null", ", ",
                           defines ? "defines" : "null", ", ", include ? "include" : "null", ", ",
                                  entry, ", ", profile ? profile : "null", ", ", Hex(flags1), ", ",
                                  Hex(flags2), ", ", pump ? "pump" : "null", ", ", OutSlot(shader), ", ",
                                  OutSlot(errorMsgs), ", ", hresult ? "&hr" : "null", ")");
    if (shader) *shader = nullptr;
    if (errorMsgs) *errorMsgs = nullptr;

    fake::Compile result;
    auto scripted = S().compiles.find(entry);
    if (scripted != S().compiles.end()) result = scripted->second;
    HRESULT injected = 0;
    if (Injected("D3DX11CompileFromFileA", &injected)) result = {injected, std::nullopt, ""};

    auto makeBlob = [](const std::string &bytes, const std::string &kind) {
        Blob *blob = Adopt(std::make_unique<Blob>(), kind);
        // A non-NUL byte just past the blob shows up in the output of a
        // reader that runs over the end, in builds without AddressSanitizer.
        blob->size = bytes.size();
        blob->data.reset(new char[bytes.size() + 1]);
        std::memcpy(blob->data.get(), bytes.data(), bytes.size());
        blob->data[bytes.size()] = '~';
        return blob;
    };
    std::string made;
    if (result.hr >= 0 && shader) {
        // Bytecode blobs are named by stage: "vs_main" gives "vsblob".
        *shader = makeBlob(result.bytecode, entry.substr(0, 2) + "blob");
        made += " " + NameOf(*shader);
    }
    if (result.messages && errorMsgs) {
        *errorMsgs = makeBlob(*result.messages, "msgblob");
        made += " " + NameOf(*errorMsgs);
    }
    Log(made.empty() ? call : call + " ->" + made);
    if (hresult) *hresult = result.hr;
    return result.hr;
}

std::vector<unsigned char> fake::BufferContents(const ID3D11Buffer *buffer) {
    const Buffer *b = Find<Buffer>(buffer);
    return b ? b->contents : std::vector<unsigned char>();
}
