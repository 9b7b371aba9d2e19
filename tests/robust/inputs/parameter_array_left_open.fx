
struct Point { float4 centre : CENTRE; float4 colour : COLOR0; };
Point vs_main(uint id : SV_InstanceID) {
    Point p;
    p.centre = id == 0 ? float4(0.5, 0.5, 0.5, 1.0) : float4(-0.5, -0.5, 0.5, id == 1 ? 1.0 : -1.0);
    p.colour = id == 0 ? float4(1.0, 0.0, 0.0, 1.0) : float4(0.0, 1.0, 0.0, 1.0);
    return p;
}
struct Corner { float4 position : SV_Position; float4 colour : COLOR0; };
[maxvertexcount(4)]
void gs_main(point Point input[        Corner c;
        c.position = input[0].centre + float4((float2(k / 2, k % 2) * 2.0 - 1.0) * 0.2, 0.0, 0.0);
        c.colour = input[0].colour;
        strip.Append(c);
    }
}
float4 ps_main(Corner c) : SV_Target { return c.colour; }
