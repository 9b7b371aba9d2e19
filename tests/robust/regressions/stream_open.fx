struct V { float4 p : SV_Position; };
[maxvertexcount(1)] void gs_main(point V i[1], inout PointStream<V