#include "OpenGLPrograms.h"

#include "OpenGLApi.h"

#include "graphics/ShaderInterface.h"

#include <algorithm>

namespace GAME::OpenGL {

namespace {

constexpr const char* versionLine = "#version 450 core\n";
constexpr const char* renameMain = "#define main engine_user_main\n#line 1 1\n";
// The depth buffer holds depth reversed (see OpenGLDevice.h); pixel programs read their depth the
// interface's way round, 0 at the near plane and 1 at the far one.
constexpr const char* pixelDepth = R"GLSL(
vec4 engine_fragCoord()
{
    return vec4(gl_FragCoord.xy, 1.0 - gl_FragCoord.z, gl_FragCoord.w);
}
#define gl_FragCoord engine_fragCoord()
)GLSL";

// After the blob: the device's main around the program's.
constexpr const char* vertexMain = R"GLSL(
#undef main
#line 1 2
layout(location = 256) uniform vec4 engine_clipPlanes[6];
void main()
{
    engine_user_main();
    for (int i = 0; i < 6; ++i)
        gl_ClipDistance[i] = dot(engine_clipPlanes[i], gl_Position);
}
)GLSL";

constexpr const char* pixelMain = R"GLSL(
#undef main
#line 1 2
layout(location = 256) uniform vec2 engine_alphaTest;
bool engine_alpha_passes(float a)
{
    float r = engine_alphaTest.y;
    switch (int(engine_alphaTest.x)) {
    case 0: return false;
    case 1: return a < r;
    case 2: return a == r;
    case 3: return a <= r;
    case 4: return a > r;
    case 5: return a != r;
    case 6: return a >= r;
    default: return true;
    }
}
void main()
{
    engine_user_main();
    if (!engine_alpha_passes(o_color.a))
        discard;
}
)GLSL";

// The same without the alpha test, for draws whose test passes everything: a program that may
// discard costs a software rasteriser every pixel it shades (depth is written late, and blocks
// wholly covered take the slow path).
constexpr const char* untestedPixelMain = R"GLSL(
#undef main
#line 1 2
void main()
{
    engine_user_main();
}
)GLSL";

// Fixed function: no transforms exist, so positions are clip coordinates.
constexpr const char* fixedVertexSource = R"GLSL(
layout(location = 262) uniform vec4 engine_fixedFlags;
void main()
{
    gl_Position = a_position;
    v_color0 = engine_fixedFlags.x > 0.5 ? a_color : vec4(1.0);
    v_color1 = vec4(0.0);
    v_tex0 = a_texCoord0;
    v_fog = 1.0;
}
)GLSL";

// Screen pixels (y down) to clip space across the viewport; their depth (0 near, 1 far) reversed
// as the depth buffer holds it.
constexpr const char* screenVertexSource = R"GLSL(
layout(location = 263) uniform vec4 engine_screen;
void main()
{
    gl_Position = vec4(a_position.x * engine_screen.x + engine_screen.z,
                       a_position.y * engine_screen.y + engine_screen.w, 1.0 - a_position.z, 1.0);
    v_color0 = a_color;
    v_color1 = vec4(0.0);
    v_tex0 = a_texCoord0;
    v_fog = 1.0;
}
)GLSL";

constexpr const char* fixedPixelTexturedSource = R"GLSL(
void main()
{
    o_color = v_color0 * texture(s0, v_tex0.xy);
}
)GLSL";

constexpr const char* fixedPixelPlainSource = R"GLSL(
void main()
{
    o_color = v_color0;
}
)GLSL";

std::string InfoLog(GLuint object, bool program)
{
    GLint length = 0;
    if (program)
        glGetProgramiv(object, GL_INFO_LOG_LENGTH, &length);
    else
        glGetShaderiv(object, GL_INFO_LOG_LENGTH, &length);
    std::string log(size_t(std::max(length, 1)), '\0');
    GLsizei written = 0;
    if (program)
        glGetProgramInfoLog(object, GLsizei(log.size()), &written, log.data());
    else
        glGetShaderInfoLog(object, GLsizei(log.size()), &written, log.data());
    log.resize(size_t(std::max(written, 0)));
    return log;
}

// Registers the program reads: the active size of vc / pc (0 when they are not used).
int ConstantCount(GLuint program, bool vertex)
{
    const GLuint index = glGetProgramResourceIndex(program, GL_UNIFORM, vertex ? "vc[0]" : "pc[0]");
    if (index == GL_INVALID_INDEX)
        return 0;
    const GLenum property = GL_ARRAY_SIZE;
    GLint size = 0;
    glGetProgramResourceiv(program, GL_UNIFORM, index, 1, &property, 1, nullptr, &size);
    return std::clamp(int(size), 0, ShaderInterface::constantRegisters);
}

} // namespace

std::string_view BuiltInSource(BuiltIn program)
{
    switch (program) {
    case BuiltIn::FixedVertex:
        return fixedVertexSource;
    case BuiltIn::ScreenVertex:
        return screenVertexSource;
    case BuiltIn::FixedPixelTextured:
        return fixedPixelTexturedSource;
    case BuiltIn::FixedPixelPlain:
        return fixedPixelPlainSource;
    }
    return {};
}

bool CompileProgram(std::string_view blob, bool vertex, uint32_t epoch, ProgramObject& out, std::string& log,
                    bool alphaTest)
{
    while (!blob.empty() && blob.back() == '\0')
        blob.remove_suffix(1);
    if (blob.find('\0') != std::string_view::npos) {
        log = "the program text holds a NUL character";
        return false;
    }
    const GLenum stage = vertex ? GL_VERTEX_SHADER : GL_FRAGMENT_SHADER;
    const char* prelude = vertex ? ShaderInterface::vertexPrelude : ShaderInterface::pixelPrelude;
    const char* deviceMain = vertex ? vertexMain : alphaTest ? pixelMain : untestedPixelMain;
    const GLchar* sources[] = {versionLine, prelude,     vertex ? "" : pixelDepth,
                               renameMain,  blob.data(), deviceMain};
    const GLint lengths[] = {-1, -1, -1, -1, GLint(blob.size()), -1};

    const GLuint shader = glCreateShader(stage);
    glShaderSource(shader, 6, sources, lengths);
    glCompileShader(shader);
    GLint compiled = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &compiled);
    if (!compiled) {
        log = InfoLog(shader, false);
        glDeleteShader(shader);
        return false;
    }
    const GLuint program = glCreateProgram();
    glProgramParameteri(program, GL_PROGRAM_SEPARABLE, GL_TRUE);
    glAttachShader(program, shader);
    glLinkProgram(program);
    glDetachShader(program, shader);
    glDeleteShader(shader);
    GLint linked = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &linked);
    if (!linked) {
        log = InfoLog(program, true);
        glDeleteProgram(program);
        return false;
    }
    out = ProgramObject();
    out.name = program;
    out.epoch = epoch;
    out.constantCount = ConstantCount(program, vertex);
    out.alphaTested = !vertex && alphaTest;
    return true;
}

bool CompilePixelProgram(std::string_view blob, uint32_t epoch, ProgramObject& tested,
                         ProgramObject& untested, std::string& log)
{
    if (!CompileProgram(blob, false, epoch, tested, log))
        return false;
    std::string ignored;
    if (!CompileProgram(blob, false, epoch, untested, ignored, false))
        untested = ProgramObject(); // the tested program serves every draw
    return true;
}

} // namespace GAME::OpenGL
