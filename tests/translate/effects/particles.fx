// Particles expanded to camera-facing quads in the geometry stage.
struct VSParticleIn
{
    float3 pos   : POSITION;
    float3 vel   : NORMAL;
    float  Timer : TIMER;
    uint   Type  : TYPE;
};

struct VSParticleDrawOut
{
    float3 pos    : POSITION;
    float4 color  : COLOR0;
    float  radius : RADIUS;
};

struct PSSceneIn
{
    float4 pos   : SV_Position;
    float2 tex   : TEXTURE0;
    float4 color : COLOR0;
};

cbuffer cb0
{
    float4x4 g_mWorldViewProj;
    float4x4 g_mInvView;
    float g_fGlobalTime;
};

cbuffer cbImmutable
{
    float3 g_positions[4] =
    {
        float3( -1, 1, 0 ),
        float3( 1, 1, 0 ),
        float3( -1, -1, 0 ),
        float3( 1, -1, 0 ),
    };
    float2 g_texcoords[4] =
    {
        float2(0,1),
        float2(1,1),
        float2(0,0),
        float2(1,0),
    };
};

Texture2D g_txDiffuse;
SamplerState g_samLinear
{
    Filter = MIN_MAG_MIP_LINEAR;
    AddressU = Clamp;
    AddressV = Clamp;
};

BlendState AdditiveBlending
{
    AlphaToCoverageEnable = FALSE;
    BlendEnable[0] = TRUE;
    SrcBlend = SRC_ALPHA;
    DestBlend = ONE;
    BlendOp = ADD;
    SrcBlendAlpha = ZERO;
    DestBlendAlpha = ZERO;
    BlendOpAlpha = ADD;
    RenderTargetWriteMask[0] = 0x0F;
};

DepthStencilState DisableDepth
{
    DepthEnable = FALSE;
    DepthWriteMask = ZERO;
};

VSParticleDrawOut VSScenemain(VSParticleIn input)
{
    VSParticleDrawOut output = (VSParticleDrawOut)0;
    output.pos = input.pos;
    output.radius = 1.5;
    output.color = float4(1, 0.1, 0.1, 1) * saturate(input.Timer);
    return output;
}

[maxvertexcount(4)]
void GSScenemain(point VSParticleDrawOut input[1], inout TriangleStream<PSSceneIn> SpriteStream)
{
    PSSceneIn output;
    for (int i = 0; i < 4; i++)
    {
        float3 position = g_positions[i] * input[0].radius;
        position = mul(position, (float3x3)g_mInvView) + input[0].pos;
        output.pos = mul(float4(position, 1.0), g_mWorldViewProj);
        output.color = input[0].color;
        output.tex = g_texcoords[i];
        SpriteStream.Append(output);
    }
    SpriteStream.RestartStrip();
}

float4 PSScenemain(PSSceneIn input) : SV_Target
{
    return g_txDiffuse.Sample(g_samLinear, input.tex) * input.color;
}

float4 PSSolid(PSSceneIn input) : SV_Target
{
    return input.color * (1 - length(input.tex - 0.5));
}

VSParticleIn VSPassThroughmain(VSParticleIn input) { return input; }

[maxvertexcount(1)]
void GSAdvance(point VSParticleIn input[1], inout PointStream<VSParticleIn> ParticleOutputStream)
{
    input[0].pos += input[0].vel * g_fGlobalTime;
    ParticleOutputStream.Append(input[0]);
}

GeometryShader gsStreamOut = ConstructGSWithSO( CompileShader( gs_4_0, GSAdvance() ), "POSITION.xyz; NORMAL.xyz; TIMER.x; TYPE.x" );
technique10 AdvanceParticles
{
    pass p0
    {
        SetVertexShader( CompileShader( vs_4_0, VSPassThroughmain() ) );
        SetGeometryShader( gsStreamOut );
        SetPixelShader( NULL );
        SetDepthStencilState( DisableDepth, 0 );
    }
}

technique10 RenderParticles
{
    pass p0
    {
        SetVertexShader( CompileShader( vs_4_0, VSScenemain() ) );
        SetGeometryShader( CompileShader( gs_4_0, GSScenemain() ) );
        SetPixelShader( CompileShader( ps_4_0, PSScenemain() ) );
        SetBlendState( AdditiveBlending, float4( 0.0f, 0.0f, 0.0f, 0.0f ), 0xFFFFFFFF );
        SetDepthStencilState( DisableDepth, 0 );
    }
}
