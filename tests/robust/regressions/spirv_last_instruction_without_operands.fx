
float4 vs_main() : SV_Position { return float4(0, 0, 0.5, 1); }
float4 ps_main() : SV_Target { return float4(1, 1, 1, 1); }
