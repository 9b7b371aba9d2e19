// The test double: every Win32, Direct3D 11 and compiler function the system
// calls, implemented as a scripted recorder.
//
// Every call is logged as one readable line, "Function(args)" for functions
// and "object#N.Method(args)" for interface methods, with " -> result" where
// the call hands out an object, a handle or a message. Objects are named by
// kind and a per-kind counter ("device#1", "vsblob#2") so logs stay stable.
// Any call can be made to fail; every object is kept until Reset so that a
// second Release, or a call on a released object, is recorded as a fault
// instead of corrupting memory.
#pragma once

#include "platform/platform.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace fake {

// Forgets every call, script, object and fault; objects still held by the
// system become invalid, so the caller nulls its slots. Handles made during
// static initialisation (the window class's icon, cursor and brush) survive.
void Reset();

// The calls since the last Reset (or ClearCalls), oldest first.
const std::vector<std::string> &Calls();
void ClearCalls();
// The calls made before the first Reset: the system's static initialisation.
const std::vector<std::string> &StaticInitCalls();

// Makes calls of `name` (a function or method name, e.g. "CreatePixelShader")
// return `hr`: every call when nth is 0, else only the nth call counted from
// Reset. A creation call with a negative result hands out no object; with a
// non-negative one it hands out the object and returns that code. Calls that
// return a handle or BOOL return null or 0 instead.
void Fail(const std::string &name, HRESULT hr, int nth = 0);

// What D3DX11CompileFromFileA does for one entry point. By default it
// succeeds with some bytecode and no messages.
struct Compile {
    HRESULT hr = 0;
    std::optional<std::string> messages; // the message blob's exact bytes
    std::string bytecode = "DXBC bytecode";
};
void ScriptCompile(const std::string &entryPoint, const Compile &result);

// The message queue PeekMessageA drains. A null window means the most recent
// window. Idle() queues one poll that finds nothing. PostQuitMessage makes
// WM_QUIT the next message once nothing is queued in front of it.
void Post(UINT message, WPARAM wParam = 0, LPARAM lParam = 0, HWND window = nullptr);
void Idle(int polls = 1);
// Successive results of GetAsyncKeyState(VK_F5); 0 once used up.
void ScriptKeys(const std::vector<SHORT> &states);
void SetDefWindowProcResult(LRESULT result);
// A window handle for tests that call InitDevice directly.
HWND NewWindow();
// The class passed to the last successful RegisterClassExA.
const WNDCLASSEXA &RegisteredClass();

// Texts passed to OutputDebugStringA, one entry per call.
const std::vector<std::string> &DebugOutput();

// Names of the objects whose reference count is above zero, oldest first.
std::vector<std::string> Alive();
// Misuse seen so far: Release past zero, calls on released objects, standard
// output left unflushed, a message loop that ran past its script.
const std::vector<std::string> &Faults();
// The name of an object or handle, "null", or "unknown".
std::string NameOf(const void *pointer);
// The bytes last uploaded into a buffer with UpdateSubresource.
std::vector<unsigned char> BufferContents(const ID3D11Buffer *buffer);

// Standard output: while captured, what the program prints is kept here
// instead, one entry per write to the stream. The stream is fully buffered,
// so each entry is what one fflush pushed out; text still unflushed at
// StopCapture is recorded as a fault.
void CaptureStdout();
void StopCapture();
const std::string &Output();
const std::vector<std::string> &OutputWrites();
// Forgets what standard output and the debugger channel received so far.
void ClearOutput();
// Called with each write as it happens (cleared by Reset).
void OnOutput(std::function<void(const std::string &)> observer);

} // namespace fake
