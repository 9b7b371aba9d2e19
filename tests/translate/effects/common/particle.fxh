// The constant buffer and the stage structures shared by the entry points.
#ifndef PARTICLE_FXH
#define PARTICLE_FXH
#include "math.fxh"

shared cbuffer Scene : register(b0) < string Layout = "time, 15 unused, 2 per particle"; >
{
    float4 reg[1024];
}

struct Particle { float4 pos : SV_Position; float4 col : COLOR0; float size : PSIZE; };
struct Sprite { float4 pos : SV_Position; float2 uv : TEXCOORD0; float4 col : COLOR0; };
#endif
