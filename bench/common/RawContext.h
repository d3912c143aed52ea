// The benchmarks' reference programs draw with raw OpenGL in a context of their own: OpenGL 4.5
// core on Mesa's surfaceless EGL display, as the OpenGL device opens it headless.
#pragma once

#include <epoxy/egl.h>
#include <epoxy/gl.h>

#include <cstdio>

// The display is set whether or not a context could be made (EGL_NO_DISPLAY when none opens).
inline EGLContext OpenRawContext(EGLDisplay& display)
{
    auto getPlatformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    display = getPlatformDisplay
                  ? getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr)
                  : EGL_NO_DISPLAY;
    EGLint major = 0, minor = 0;
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, &major, &minor) || !eglBindAPI(EGL_OPENGL_API))
        return EGL_NO_CONTEXT;
    const EGLint attributes[] = {EGL_CONTEXT_MAJOR_VERSION,
                                 4,
                                 EGL_CONTEXT_MINOR_VERSION,
                                 5,
                                 EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                 EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                                 EGL_NONE};
    return eglCreateContext(display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, attributes);
}

// One shader stage compiled in the current context; a failure prints the driver's log after the
// label and still answers the shader (the program's link then fails).
inline GLuint CompileRawShader(GLenum stage, const char* text, const char* label)
{
    const GLuint shader = glCreateShader(stage);
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    GLint ok = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        char log[2048];
        glGetShaderInfoLog(shader, sizeof(log), nullptr, log);
        std::fprintf(stderr, "%s: %s\n", label, log);
    }
    return shader;
}
