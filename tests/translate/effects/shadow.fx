// Shadow mapping: a depth pass from the light, then the scene with PCF.
#define SHADOW_BIAS 0.0015f

cbuffer cbPerFrame : register(b0) < string Note = "updated per frame; {light}"; >
{
    float4x4 g_mWorldViewProj;
    float4x4 g_mLightViewProj;
    float3   g_vLightDir;
    float    g_fShadowBias = SHADOW_BIAS;
};

Texture2D g_txShadowMap < string UIName = "Shadow map"; >;
Texture2D<float4> g_txDiffuse : register(t1);

SamplerComparisonState g_samShadow : register(s0)
{
    Filter = COMPARISON_MIN_MAG_LINEAR_MIP_POINT;
    AddressU = Border;
    AddressV = Border;
    BorderColor = float4(1, 1, 1, 1);
    ComparisonFunc = LESS_EQUAL;
};

SamplerState g_samAniso : register(s1) { Filter = ANISOTROPIC; MaxAnisotropy = 16; AddressU = Wrap; AddressV = Wrap; };

DepthStencilState EnableDepth
{
    DepthEnable = TRUE;
    DepthWriteMask = ALL;
    DepthFunc = LESS_EQUAL;
};

RasterizerState ShadowBias { DepthBias = 100; SlopeScaledDepthBias = 1.5f; CullMode = Front; };
BlendState NoBlending { AlphaToCoverageEnable = FALSE; BlendEnable[0] = FALSE; RenderTargetWriteMask[0] = 0x0F; };

struct VS_IN { float3 pos : POSITION; float3 norm : NORMAL; float2 uv : TEXCOORD0; };
struct VS_OUT
{
    float4 pos      : SV_Position;
    float3 norm     : NORMAL;
    float2 uv       : TEXCOORD0;
    float4 lightPos : TEXCOORD1;
};

float4 VS_Depth(float3 pos : POSITION) : SV_Position
{
    return mul(float4(pos, 1), g_mLightViewProj);
}

VS_OUT VS_Scene(VS_IN i)
{
    VS_OUT o;
    o.pos = mul(float4(i.pos, 1), g_mWorldViewProj);
    o.norm = i.norm;
    o.uv = i.uv;
    o.lightPos = mul(float4(i.pos, 1), g_mLightViewProj);
    return o;
}

float4 PS_Scene(VS_OUT i) : SV_Target
{
    float2 uv = i.lightPos.xy / i.lightPos.w * float2(0.5, -0.5) + 0.5;
    float lit = g_txShadowMap.SampleCmpLevelZero(g_samShadow, uv, i.lightPos.z / i.lightPos.w - g_fShadowBias);
    float ndl = saturate(dot(normalize(i.norm), -g_vLightDir));
    return g_txDiffuse.Sample(g_samAniso, i.uv) * (0.2 + 0.8 * ndl * lit);
}

technique11 ShadowMap
{
    pass Depth
    {
        SetVertexShader(CompileShader(vs_4_0, VS_Depth()));
        SetGeometryShader(NULL);
        SetPixelShader(NULL);
        SetRasterizerState(ShadowBias);
        SetDepthStencilState(EnableDepth, 0);
    }
    pass Scene
    {
        SetVertexShader(CompileShader(vs_4_0, VS_Scene()));
        SetPixelShader(CompileShader(ps_4_0, PS_Scene()));
        SetBlendState(NoBlending, float4(0.0f, 0.0f, 0.0f, 0.0f), 0xFFFFFFFF);
        SetDepthStencilState(EnableDepth, 0);
    }
}
