// How vertex and pixel programs meet the OpenGL device. A program blob inside a ".ssh" section is
// the body of a GLSL 4.50 (core) shader: it has no #version line and declares none of the names
// below. The device compiles it as
//
//     "#version 450 core\n" + <vertex or pixel prelude> + "#define main engine_user_main\n" + blob
//     + "#undef main\n" + <the device's own main, which calls engine_user_main>
//
// so a program writes its results to the prelude's outputs and the device adds what the old
// fixed pipeline did around it (clip planes after the vertex program, the alpha test after the
// pixel program). Vertex and pixel programs are compiled separately (program pipelines), so any
// vertex program works with any pixel program through the fixed varyings below.
//
// Every name and number here is part of the shader files the sample data and tests write;
// change them only together with those files. Plain constants; safe from any thread.
#pragma once

namespace GAME::ShaderInterface {

// Constant registers of four floats each, per program kind. SetVertexShaderConstants(first, data,
// count) writes vc[first .. first+count-1]; SetPixelShaderConstants writes pc[...]. Matrices
// arrive as their rows (GAME::Mat4 is row-major and applied to column vectors), so a point is
// transformed by four dot products: vec4(dot(vc[r], p), dot(vc[r+1], p), ...), which
// engine_transform(r, p) spells out. Register r sits at uniform location r; the device keeps its
// own uniforms at locations 256 and above, so a blob declares no uniforms with locations.
constexpr int constantRegisters = 256;

// Texture stages 0 to 15 are the samplers s0 .. s15 (binding = stage).
constexpr int textureStages = 16;

// Clip planes the device supports (RenderDevice::GetMaxClippingPlanes). A plane (a, b, c, d)
// keeps the points of clip space with a*x + b*y + c*z + d*w >= 0.
constexpr int maxClipPlanes = 6;

// Vertex attributes: the location of each is the VertexElementUsage code of RenderTypes.h.
// All are declared vec4; missing components read as (0, 0, 0, 1). VERTEX_TYPE_COLOR elements
// arrive normalised as (red, green, blue, alpha) from a colour packed alpha-high (0xAARRGGBB),
// except the bone indices, which arrive as their four raw byte values (0 to 255) as floats.
constexpr const char* vertexPrelude = R"GLSL(
layout(location = 0) in vec4 a_position;
layout(location = 1) in vec4 a_normal;
layout(location = 2) in vec4 a_vectorA;
layout(location = 3) in vec4 a_vectorB;
layout(location = 4) in vec4 a_texCoord0;
layout(location = 5) in vec4 a_boneWeights;
layout(location = 6) in vec4 a_boneIndices;
layout(location = 7) in vec4 a_texCoord1;
layout(location = 8) in vec4 a_texCoord2;
layout(location = 9) in vec4 a_texCoord3;
layout(location = 10) in vec4 a_texCoord4;
layout(location = 11) in vec4 a_texCoord5;
layout(location = 12) in vec4 a_texCoord6;
layout(location = 13) in vec4 a_texCoord7;
layout(location = 14) in vec4 a_color;

layout(location = 0) uniform vec4 vc[256];

out gl_PerVertex { vec4 gl_Position; float gl_PointSize; float gl_ClipDistance[6]; };
layout(location = 0) out vec4 v_color0;
layout(location = 1) out vec4 v_color1;
layout(location = 2) out vec4 v_tex0;
layout(location = 3) out vec4 v_tex1;
layout(location = 4) out vec4 v_tex2;
layout(location = 5) out vec4 v_tex3;
layout(location = 6) out vec4 v_tex4;
layout(location = 7) out vec4 v_tex5;
layout(location = 8) out vec4 v_tex6;
layout(location = 9) out vec4 v_tex7;
layout(location = 10) out float v_fog;

vec4 engine_transform(int r, vec4 p)
{
    return vec4(dot(vc[r], p), dot(vc[r + 1], p), dot(vc[r + 2], p), dot(vc[r + 3], p));
}
)GLSL";

// The pixel program reads the varyings the vertex program wrote (unwritten ones are undefined)
// and writes o_color. v_fog is the fog factor the vertex program chose (1 no fog, 0 all fog);
// the program applies it itself.
constexpr const char* pixelPrelude = R"GLSL(
layout(location = 0) in vec4 v_color0;
layout(location = 1) in vec4 v_color1;
layout(location = 2) in vec4 v_tex0;
layout(location = 3) in vec4 v_tex1;
layout(location = 4) in vec4 v_tex2;
layout(location = 5) in vec4 v_tex3;
layout(location = 6) in vec4 v_tex4;
layout(location = 7) in vec4 v_tex5;
layout(location = 8) in vec4 v_tex6;
layout(location = 9) in vec4 v_tex7;
layout(location = 10) in float v_fog;

layout(location = 0) uniform vec4 pc[256];

layout(binding = 0) uniform sampler2D s0;
layout(binding = 1) uniform sampler2D s1;
layout(binding = 2) uniform sampler2D s2;
layout(binding = 3) uniform sampler2D s3;
layout(binding = 4) uniform sampler2D s4;
layout(binding = 5) uniform sampler2D s5;
layout(binding = 6) uniform sampler2D s6;
layout(binding = 7) uniform sampler2D s7;
layout(binding = 8) uniform sampler2D s8;
layout(binding = 9) uniform sampler2D s9;
layout(binding = 10) uniform sampler2D s10;
layout(binding = 11) uniform sampler2D s11;
layout(binding = 12) uniform sampler2D s12;
layout(binding = 13) uniform sampler2D s13;
layout(binding = 14) uniform sampler2D s14;
layout(binding = 15) uniform sampler2D s15;

layout(location = 0) out vec4 o_color;
)GLSL";

} // namespace GAME::ShaderInterface
