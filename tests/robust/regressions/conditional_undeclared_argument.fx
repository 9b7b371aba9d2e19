float f(float a) { return f(a ? 1 : b); }
float4 ps_main() : SV_Target { return f(1); }
