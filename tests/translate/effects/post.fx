/*
    Post-processing glow, written for an effect-aware tool: every parameter
    carries annotations that the tool reads.
*/
float Script : STANDARDSGLOBAL <
    string UIWidget = "none";
    string ScriptClass = "scene";
    string ScriptOrder = "postprocess";
    string ScriptOutput = "color";
    string Script = "Technique=Main;";
> = 0.8;

float4 ClearColor <
    string UIWidget = "color";
    string UIName = "Background {r, g, b}; <a>";
> = {0, 0, 0, 1.0};

float Glowness <
    string UIName = "Glow strength";
    string UIWidget = "slider";
    float UIMin = 0.0f;
    float UIMax = 2.0f;
    float UIStep = 0.05f;
> = 0.7f;

float2 ViewportSize : VIEWPORTPIXELSIZE < string UIName = "Screen Size"; string UIWidget = "None"; >;

texture SceneTexture : RENDERCOLORTARGET <
    float2 ViewPortRatio = {1.0, 1.0};
    int MipLevels = 1;
    string Format = "X8R8G8B8";
    string UIWidget = "None";
>;

sampler2D SceneSampler = sampler_state {
    texture = <SceneTexture>;
    AddressU = Clamp;
    AddressV = Clamp;
    MipFilter = None;
    MinFilter = Linear;
    MagFilter = Linear;
};

sampler LegacySampler : register(s2) = sampler_state { Texture = (SceneTexture); MipFilter = LINEAR; };
SamplerState GlowSamplers[2] = { sampler_state { Filter = MIN_MAG_MIP_POINT; }, sampler_state { Filter = ANISOTROPIC; } };
VertexShader QuadShaders[2] = { CompileShader(vs_4_0, ScreenQuadVS()), compile vs_4_0 ScreenQuadVS() };
stateblock ResetState = stateblock_state { ZEnable = false; };

Texture2D GlowMap < string ResourceName = "glow.dds"; string ResourceType = "2D"; >;
SamplerState GlowSampler { Filter = MIN_MAG_LINEAR_MIP_POINT; AddressU = Clamp; AddressV = Clamp; };

struct QuadVertex
{
    float4 Position : SV_Position;
    float2 UV       : TEXCOORD0;
};

QuadVertex ScreenQuadVS(uint id : SV_VertexID)
{
    QuadVertex o;
    o.UV = float2((id << 1) & 2, id & 2);
    o.Position = float4(o.UV * float2(2, -2) + float2(-1, 1), 0, 1);
    o.UV += 0.5 / ViewportSize;
    return o;
}

float4 GlowPS(QuadVertex i) : SV_Target
{
    float4 scene = GlowMap.Sample(GlowSampler, i.UV);
    return lerp(ClearColor, scene, Glowness);
}

float4 TintPS(QuadVertex i) : SV_Target
{
    return ClearColor * Glowness * i.UV.xyxy;
}

technique10 Main <
    string Script =
        "RenderColorTarget0=SceneTexture;"
        "ClearSetColor=ClearColor;"
        "Clear=Color;"
        "ScriptExternal=color;"
        "Pass=Glow;";
> {
    pass Glow < string Script = "RenderColorTarget0=;" "Draw=Buffer;"; >
    {
        SetVertexShader(CompileShader(vs_4_0, ScreenQuadVS()));
        SetGeometryShader(NULL);
        SetPixelShader(CompileShader(ps_4_0, GlowPS()));
    }
}
