// The scene: everything built from "main.fx" (three shaders, their bytecode
// while they are being created, the rasterizer state and the constant
// buffer), its load and release, and the frame that draws with it.
#pragma once

#include "platform/platform.h"

struct SceneObjects {
    ID3D11VertexShader *vshader;
    ID3D11GeometryShader *gshader;
    ID3D11PixelShader *pshader;
    ID3D10Blob *vsblob;
    ID3D10Blob *gsblob;
    ID3D10Blob *psblob;
    ID3D11Buffer *pConstant;
    ID3D11RasterizerState *pRSStage;
};

extern SceneObjects sceneObjects;

HRESULT CompileShaderFromFile(const char *fileName, const char *entryPoint, const char *profile,
                              ID3D10Blob **blob);
HRESULT D3DXCreateBuffer(UINT bindFlags, UINT byteWidth, ID3D11Buffer **buffer,
                         const D3D11_SUBRESOURCE_DATA *initialData);
void LoadScene();
void ReleaseScene();
void RenderFrame();
