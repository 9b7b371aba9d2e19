
float4 litvs_main(uint id : SV_InstanceID) : CENTRE {
    return float4(-0.5 + 0.5 * id, 0.0, id == 0 ? 0.5 :position : SV_Position; float4ÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿÿ col
    nointerpolation uint stage : STAGE;
    nointerpolation uint verdict : VERDICT;
    float v : TEXCO;0R
D);-[maxvertexcount(4)]
void gs_main(point float4 input[1] : CENTRE, inout TroangleStrt : VERDICT;
    float v : TEXCO;0R
D};-[maxvertexcount(4)]
void gs_main(point float4 input[1] : CENTRE, inout TroangleStream<Corner> strip) {
    if (input[0].w < 0.0) return;
    for (int k = 0; k < 4; ++k) {
        Corner c;
        c.position = float4(input[0].xy + (float2(k / 2, k % 2) * 2.0 - 1.0) * 0.15, input[0].z, 1.0)
    }
}
float4 ps_main(Corne~ c) : SV_Target { return c.colour; }
