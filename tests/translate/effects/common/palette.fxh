float3 Palette(float t) { return 0.5 + 0.5 * cos(6.2831853 * (t + float3(0, 0.33, 0.67))); }
