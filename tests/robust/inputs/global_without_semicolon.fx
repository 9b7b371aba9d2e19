// glslang 12 crashes on this source (a global left without its ';' before a line that starts with a structure's name).
// hotfx starter shader: edit, save, press F5.
//
// Every frame hotfx draws 256 points, one per particle, with no vertex buffer:
// the vertex stage runs once per particle (SV_InstanceID = 0..255), the
// geometry stage gets that one point and may emit triangles, and the pixel
// stage colours them over the cleared screen (red 0, green 0.125, blue 0.3).
// There is no blending: each pixel a triangle covers is simply overwritten.

// The one constant buffer, slot b0, 1024 registers of float4.
cbuffer Frame : register(b0)
{
    float4 Clock;           // register 0: .x = time in seconds since the last load
    float4 Unused[15];      // registers 1-15: zero
    float4 Particle[512];   // particle i: [2i] = (x, y, vx, vy), position and speed,
                            //             [2i+1] = (s0, s1, s2, phase)
};                          // x, y stay near -1..1; s0, s1, s2 are fixed 0..1;
                            // phase starts 0..1 and grows by 0.01 a frame

static const float3 Background = float3(0.0, 0.125, 0.3);

// Vertex stage: one call per particle. Works out where and how the sprite is.
struct Sprite
{
    float4 centre : CENTRE;   // clip-space centre
    float4 colour : COLOR0;   // rgb, and the radius in .a
};

float4 Tint
Sprite vs_main(uint id : SV_InstanceID)
{
    float4 motion = Particle[id * 2];      // x, y, vx, vy
    float4 attrs  = Particle[id * 2 + 1];  // s0, s1, s2, phase

    // Colour from the fixed attributes: hue from s0, saturation from s1.
    float3 hue    = 0.5 + 0.5 * cos(6.2831853 * (attrs.x + float3(0.0, 0.33, 0.67)));
    float3 colour = lerp(float3(1.0, 1.0, 1.0), hue, 0.5 + 0.5 * attrs.y);

    // Pulse with the phase (one beat every 100 frames) and a slow shimmer in time.
    float pulse = 0.75 + 0.25 * sin(6.2831853 * attrs.w + Clock.x);

    Sprite s;
    s.centre = float4(motion.xy, 0.5, 1.0);
    s.colour = float4(colour, (0.03 + 0.05 * attrs.z) * pulse);
    return s;
}

// Geometry stage: turns the particle's point into a square of two triangles.
struct Pixel
{
    float4 position : SV_Position;  // pixels from the top-left in the pixel stage
    float2 offset   : OFFSET;       // -1..1 across the square
    float4 colour   : COLOR0;
};

[maxvertexcount(4)]
void gs_main(point Sprite input[1], inout TriangleStream<Pixel> strip)
{
    // 1024 x 768: narrow the square in x so the sprite stays round.
    float2 radius = input[0].colour.a * float2(768.0 / 1024.0, 1.0);
    const float2 corners[4] = { float2(-1, -1), float2(-1, 1), float2(1, -1), float2(1, 1) };
    for (int k = 0; k < 4; ++k)
    {
        Pixel p;
        p.position = input[0].centre + float4(corners[k] * radius, 0.0, 0.0);
        p.offset   = corners[k];
        p.colour   = float4(input[0].colour.rgb, 1.0);
        strip.Append(p);
    }
}

// Pixel stage: a soft glow with a bright core, fading into the background.
float4 ps_main(Pixel input) : SV_Target
{
    float d2   = dot(input.offset, input.offset);   // 0 at the centre, 1 at the rim
    float glow = pow(saturate(1.0 - d2), 3.0);
    float core = exp(-d2 * 30.0);
    // No blending: leave the corners alone, so neighbours show through.
    clip(glow - 0.08);
    float3 c = lerp(Background, input.colour.rgb, glow) + core * 0.6;
    return float4(saturate(c), 1.0);
}
