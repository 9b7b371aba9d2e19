// The HLSL compiler entry point on Windows. The legacy D3DX11 compiler is
// loaded at run time, so building needs no legacy SDK. Windows 8 and later
// ship without d3dx11_43.dll; there D3DCompileFromFile of d3dcompiler_47.dll,
// which every current Windows has, compiles with the same arguments.
#include "platform/platform.h"

#include <d3dcompiler.h> // D3D_COMPILE_STANDARD_FILE_INCLUDE

#include <cstdio>
#include <string>

namespace {

using CompileFromFileA = HRESULT(WINAPI *)(LPCSTR, const D3D10_SHADER_MACRO *, LPD3D10INCLUDE,
                                           LPCSTR, LPCSTR, UINT, UINT, ID3DX11ThreadPump *,
                                           ID3D10Blob **, ID3D10Blob **, HRESULT *);
using CompileFromFileW = HRESULT(WINAPI *)(LPCWSTR, const D3D10_SHADER_MACRO *, LPD3D10INCLUDE,
                                           LPCSTR, LPCSTR, UINT, UINT, ID3D10Blob **,
                                           ID3D10Blob **);

struct Compiler {
    CompileFromFileA d3dx        = nullptr;
    CompileFromFileW d3dcompiler = nullptr;
};

// The cast through void(*)() tells GCC the function type change is meant.
template <class F> F Resolve(const char *dll, const char *name) {
    HMODULE module = LoadLibraryA(dll);
    if (!module) return nullptr;
    FARPROC proc = GetProcAddress(module, name);
    if (!proc) {
        FreeLibrary(module);
        return nullptr;
    }
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(proc));
}

// Looked up on the first compile and remembered, missing or not: the DLLs
// stay loaded for the life of the process.
const Compiler &LoadCompiler() {
    static const Compiler compiler = [] {
        Compiler c;
        c.d3dx = Resolve<CompileFromFileA>("d3dx11_43.dll", "D3DX11CompileFromFileA");
        if (!c.d3dx)
            c.d3dcompiler = Resolve<CompileFromFileW>("d3dcompiler_47.dll", "D3DCompileFromFile");
        if (!c.d3dx && !c.d3dcompiler) {
            std::printf("ERROR : no HLSL compiler: d3dx11_43.dll and d3dcompiler_47.dll are both "
                        "missing\n");
            std::fflush(stdout);
        }
        return c;
    }();
    return compiler;
}

// The D3DX11 name is in the ANSI code page; D3DCompileFromFile wants UTF-16.
bool Widen(LPCSTR text, std::wstring &wide) {
    int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (length <= 0) return false;
    wide.resize(static_cast<size_t>(length));
    return MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], length) == length;
}

} // namespace

HRESULT WINAPI D3DX11CompileFromFileA(LPCSTR srcFile, const D3D10_SHADER_MACRO *defines,
                                      LPD3D10INCLUDE include, LPCSTR functionName, LPCSTR profile,
                                      UINT flags1, UINT flags2, ID3DX11ThreadPump *pump,
                                      ID3D10Blob **shader, ID3D10Blob **errorMsgs,
                                      HRESULT *hresult) {
    const Compiler &compiler = LoadCompiler();
    if (compiler.d3dx)
        return compiler.d3dx(srcFile, defines, include, functionName, profile, flags1, flags2, pump,
                             shader, errorMsgs, hresult);

    HRESULT hr = HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND); // 0x8007007E
    if (compiler.d3dcompiler) {
        // The fallback always compiles at once; a thread pump has nothing to do.
        std::wstring wideName;
        if (!srcFile || !Widen(srcFile, wideName))
            hr = E_INVALIDARG;
        else // D3DX11 finds #include files by itself, D3DCompileFromFile with this handler
            hr = compiler.d3dcompiler(wideName.c_str(), defines,
                                      include ? include : D3D_COMPILE_STANDARD_FILE_INCLUDE,
                                      functionName, profile, flags1, flags2, shader, errorMsgs);
    }
    if (hresult) *hresult = hr;
    return hr;
}
