// glslang 12 crashes on this source (a pixel stage input structure with a one-component SV_Position).
struct V { float1 p : SV_Position; };
V vs_main(uint id : SV_InstanceID) { V v; v.p = 0; return v; }
[maxvertexcount(1)]
void gs_main(point V input[1], inout PointStream<V> s) { s.Append(input[0]); }
float4 ps_main(V i) : SV_Target { return 1; }
