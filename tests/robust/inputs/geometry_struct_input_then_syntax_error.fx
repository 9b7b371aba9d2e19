// A geometry entry point taking one vertex structure, not an array of them:
// glslang 12 crashed on it (HlslParseContext::handleAssign).
struct V { float4 p : SV_Position; };
V vs_main(uint id : SV_InstanceID) { V v; v.p = float4(0, 0, 0, 1); return v; }
[maxvertexcount(1)]
void gs_main(point V input, inout PointStream<V> s) { s.Append(input); }
flat o4ps_main(V i) : SV_Target { return 1; }
