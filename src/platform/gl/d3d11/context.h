// The immediate context (context.cpp): pipeline state, per-stage slots and
// draws.
#pragma once

#include "platform/platform.h"

namespace d3d11gl {

class Device;

// Sets up the GL state the context keeps (vertex array, program pipeline,
// clip control, empty slots) on the device's current GL context.
ID3D11DeviceContext *CreateContext(Device *device);

} // namespace d3d11gl
