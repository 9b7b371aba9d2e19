Texture2D<float4 t;
SamplerState s