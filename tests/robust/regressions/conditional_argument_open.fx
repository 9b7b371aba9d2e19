float4 ps_main() : SV_Target { return 0; }
float n(){e(0?5: