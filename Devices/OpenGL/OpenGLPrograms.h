// Compiling vertex and pixel programs the way graphics/ShaderInterface.h fixes it, and the
// device's own programs (fixed function and screen-space drawing), which are compiled the same
// way. Runs on whichever context is current; safe from any thread.
#pragma once

#include "OpenGLResources.h"

#include <string>
#include <string_view>

namespace GAME::OpenGL {

// Uniform locations of the device's own values, above the 256 constant registers (locations 0 to
// 255) of each program kind.
constexpr int clipPlanesLocation = 256; // vertex: vec4[6], the planes in clip space
constexpr int alphaTestLocation = 256;  // pixel: vec2 (function code, reference)
constexpr int fixedFlagsLocation = 262; // fixed vertex program: vec4, x = 1 with a vertex colour
constexpr int screenLocation = 263;     // screen program: vec4 pixel-to-clip scale and offset

enum class BuiltIn
{
    FixedVertex,
    ScreenVertex,
    FixedPixelTextured,
    FixedPixelPlain,
};

// The body of a device program (written against the same preludes as any program blob).
std::string_view BuiltInSource(BuiltIn program);

// Compiles and links a separable program from a blob (trailing NULs ignored). False with the
// compiler's or linker's log. A pixel program ends with the device's alpha test unless asked not
// to.
bool CompileProgram(std::string_view blob, bool vertex, uint32_t epoch, ProgramObject& out, std::string& log,
                    bool alphaTest = true);
// A pixel program with the alpha test and without it (for draws whose test passes everything);
// false, with the log, when the first does not compile. When only the second fails it is left
// empty (name 0) and the first serves every draw.
bool CompilePixelProgram(std::string_view blob, uint32_t epoch, ProgramObject& tested,
                         ProgramObject& untested, std::string& log);

} // namespace GAME::OpenGL
