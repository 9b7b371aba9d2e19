// What the Linux backend offers beyond the Win32 and Direct3D names: its
// error channel and a count of its live objects, for tests that prove a run
// leaks nothing.
#pragma once

#include <string>

// Writes "hotfx: <text>" on standard error and to the debugger channel.
// Standard output carries only the program's own lines.
void ReportBackendError(const std::string &text);

// Device objects (device, context, swap chain, textures, views, shaders,
// states, buffers) not yet destroyed. Zero once every reference is released.
int LiveObjectCount();
