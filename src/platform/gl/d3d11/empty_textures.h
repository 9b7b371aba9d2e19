// The textures and samplers behind texture slots that hold nothing.
//
// Direct3D 11 reads an empty texture slot as zeros: every sample, gather
// and load gives (0, 0, 0, 0), a comparison gives 0 (Direct3D 11.3
// reference, 5.3.13 and 7.18.12, "unbound" resources). GL reads an
// incomplete texture as (0, 0, 0, 1), so each unit a stage samples through
// gets a real all-zero texture of the target and component type its GLSL
// sampler wants, with a sampler that compares to 0 where the GLSL sampler
// is a shadow one.
#pragma once

#define GL_GLEXT_PROTOTYPES 1
#include "platform/gl/bindings.h"

#include <GL/gl.h>
#include <GL/glext.h>

#include <map>
#include <vector>

struct EmptyTextures {
    GLuint zeros = 0;                    // a buffer of zeros, which buffer textures read
    std::map<uint32_t, GLuint> textures; // by kind, component and comparison
    GLuint plain   = 0;                  // nearest filtering: no filter is incomplete for integers
    GLuint compare = 0;                  // comparisons that always fail, giving 0
};

// zeros is a zero-filled buffer of at least 16 bytes that outlives the set.
void CreateEmptyTextures(EmptyTextures &set, GLuint zeros);
void DestroyEmptyTextures(EmptyTextures &set);
// Binds a zero texture and its sampler at the unit of every pair.
void BindEmptyTextures(EmptyTextures &set, const std::vector<TexturePair> &pairs);
