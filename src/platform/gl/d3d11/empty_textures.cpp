#include "platform/gl/d3d11/empty_textures.h"

namespace {

GLenum Target(TextureKind kind) {
    switch (kind) {
    case TextureKind::Buffer:
        return GL_TEXTURE_BUFFER;
    case TextureKind::Texture1D:
        return GL_TEXTURE_1D;
    case TextureKind::Texture1DArray:
        return GL_TEXTURE_1D_ARRAY;
    case TextureKind::Texture2D:
        return GL_TEXTURE_2D;
    case TextureKind::Texture2DArray:
        return GL_TEXTURE_2D_ARRAY;
    case TextureKind::Texture2DMS:
        return GL_TEXTURE_2D_MULTISAMPLE;
    case TextureKind::Texture2DMSArray:
        return GL_TEXTURE_2D_MULTISAMPLE_ARRAY;
    case TextureKind::Texture3D:
        return GL_TEXTURE_3D;
    case TextureKind::TextureCube:
        return GL_TEXTURE_CUBE_MAP;
    case TextureKind::TextureCubeArray:
        return GL_TEXTURE_CUBE_MAP_ARRAY;
    }
    return GL_TEXTURE_2D;
}

GLuint MakeTexture(const TexturePair &pair, GLuint zeros) {
    const GLenum format = pair.comparison                            ? GL_DEPTH_COMPONENT32F
                          : pair.component == TextureComponent::Int  ? GL_RGBA32I
                          : pair.component == TextureComponent::Uint ? GL_RGBA32UI
                                                                     : GL_RGBA32F;
    GLuint name         = 0;
    glCreateTextures(Target(pair.kind), 1, &name);
    switch (pair.kind) {
    case TextureKind::Buffer:
        glTextureBufferRange(name, format, zeros, 0, 16);
        return name;
    case TextureKind::Texture1D:
        glTextureStorage1D(name, 1, format, 1);
        break;
    case TextureKind::Texture1DArray:
    case TextureKind::Texture2D:
    case TextureKind::TextureCube:
        glTextureStorage2D(name, 1, format, 1, 1);
        break;
    case TextureKind::Texture2DArray:
    case TextureKind::Texture3D:
        glTextureStorage3D(name, 1, format, 1, 1, 1);
        break;
    case TextureKind::TextureCubeArray:
        glTextureStorage3D(name, 1, format, 1, 1, 6);
        break;
    case TextureKind::Texture2DMS:
        glTextureStorage2DMultisample(name, 1, format, 1, 1, GL_TRUE);
        break;
    case TextureKind::Texture2DMSArray:
        glTextureStorage3DMultisample(name, 1, format, 1, 1, 1, GL_TRUE);
        break;
    }
    if (pair.comparison)
        glClearTexImage(name, 0, GL_DEPTH_COMPONENT, GL_FLOAT, nullptr);
    else
        glClearTexImage(name, 0,
                        pair.component == TextureComponent::Float ? GL_RGBA : GL_RGBA_INTEGER,
                        pair.component == TextureComponent::Float ? GL_FLOAT : GL_INT, nullptr);
    return name;
}

GLuint MakeSampler(bool compare) {
    GLuint name = 0;
    glCreateSamplers(1, &name);
    glSamplerParameteri(name, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glSamplerParameteri(name, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    if (compare) {
        glSamplerParameteri(name, GL_TEXTURE_COMPARE_MODE, GL_COMPARE_REF_TO_TEXTURE);
        glSamplerParameteri(name, GL_TEXTURE_COMPARE_FUNC, GL_NEVER);
    }
    return name;
}

} // namespace

void CreateEmptyTextures(EmptyTextures &set, GLuint zeros) {
    set.zeros   = zeros;
    set.plain   = MakeSampler(false);
    set.compare = MakeSampler(true);
}

void DestroyEmptyTextures(EmptyTextures &set) {
    for (auto &entry : set.textures)
        glDeleteTextures(1, &entry.second);
    set.textures.clear();
    glDeleteSamplers(1, &set.plain);
    glDeleteSamplers(1, &set.compare);
    set.plain = set.compare = 0;
}

void BindEmptyTextures(EmptyTextures &set, const std::vector<TexturePair> &pairs) {
    for (const TexturePair &pair : pairs) {
        const uint32_t key = static_cast<uint32_t>(pair.kind) * 8 +
                             static_cast<uint32_t>(pair.component) * 2 + (pair.comparison ? 1 : 0);
        GLuint &texture = set.textures[key];
        if (!texture) texture = MakeTexture(pair, set.zeros);
        glBindTextureUnit(pair.unit, texture);
        glBindSampler(pair.unit, pair.comparison ? set.compare : set.plain);
    }
}
