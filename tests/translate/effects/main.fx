// A hotfx main.fx written as an effect file: the three entry points, the
// state objects and techniques an effect tool would read, and shared code in
// headers.
#include "common/particle.fxh"
#include <common\palette.fxh>

#define STAGES(vs, gs, ps) \
    SetVertexShader(CompileShader(vs_4_0, vs())); \
    SetGeometryShader(CompileShader(gs_4_0, gs())); \
    SetPixelShader(CompileShader(ps_4_0, ps()))

Texture2D g_sprite < string ResourceName = "sprite.dds"; >;
SamplerState g_linear : register(s0) { Filter = MIN_MAG_MIP_LINEAR; AddressU = Clamp; AddressV = Clamp; };
SamplerState g_point[2]
{
    { Filter = MIN_MAG_MIP_POINT; },
    { Filter = MIN_MAG_MIP_POINT; AddressU = Wrap; AddressV = Wrap; }
};
BlendState Additive { BlendEnable[0] = TRUE; SrcBlend[0] = ONE; DestBlend[0] = ONE; };
DepthStencilState NoDepth { DepthEnable = FALSE; DepthWriteMask = ZERO; };
RasterizerState Solid { FillMode = SOLID; CullMode = NONE; };

Particle vs_main(uint id : SV_InstanceID)
{
    Particle p;
    float4 at = reg[16 + 2 * id], look = reg[17 + 2 * id];
    p.pos = float4(at.xy, 0.5, 1);
    p.col = float4(Palette(look.x + reg[0].x), 1);
    p.size = 0.01 + 0.02 * look.y;
    return p;
}

[maxvertexcount(4)]
void gs_main(point Particle input[1], inout TriangleStream<Sprite> stream)
{
    for (uint i = 0; i < 4; ++i)
    {
        Sprite s;
        s.uv = Corner(i);
        s.pos = input[0].pos + float4((s.uv * 2 - 1) * input[0].size, 0, 0);
        s.col = input[0].col;
        stream.Append(s);
    }
}

float4 ps_main(Sprite s) : SV_Target
{
    return s.col * saturate(1 - 2 * length(s.uv - 0.5));
}

float4 ps_textured(Sprite s) : SV_Target
{
    return s.col * g_sprite.Sample(g_linear, s.uv) + g_sprite.Sample(g_point[1], s.uv * 4) * 0.1;
}

VertexShader g_vs = CompileShader(vs_4_0, vs_main());

fxgroup Particles < string Pipeline = "points"; >
{
    technique11 Draw < string Description = "additive quads; see particle.fxh { }"; >
    {
        pass P0 < string Note = "<one pass>"; >
        {
            STAGES(vs_main, gs_main, ps_main);
            SetBlendState(Additive, float4(0, 0, 0, 0), 0xFFFFFFFF);
            SetDepthStencilState(NoDepth, 0);
            SetRasterizerState(Solid);
        }
    }
}

#if 0
technique10 Old { pass P0 { this text is left out by the preprocessor } }
#endif
