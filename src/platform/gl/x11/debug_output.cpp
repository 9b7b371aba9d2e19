// GL's debug output in the backend's error channel.
//
// Only errors and high-severity messages are let through: drivers, Mesa's
// llvmpipe among them, send a stream of notifications and performance notes
// that would drown the program's own lines on standard error. The shader
// compiler's messages are left out as well: a shader the driver rejects is
// already reported with its whole log by the shader's creation.
#define GL_GLEXT_PROTOTYPES 1

#include "platform/gl/x11/debug_output.h"

#include "platform/gl/backend.h"

#include <GL/gl.h>
#include <GL/glext.h>

#include <string>

namespace {

bool Reported(GLenum source, GLenum type, GLenum severity) {
    if (source == GL_DEBUG_SOURCE_SHADER_COMPILER) return false;
    return type == GL_DEBUG_TYPE_ERROR || severity == GL_DEBUG_SEVERITY_HIGH;
}

void GLAPIENTRY OnGlMessage(GLenum source, GLenum type, GLuint, GLenum severity, GLsizei length,
                            const GLchar *message, const void *) {
    if (!message || !Reported(source, type, severity)) return;
    const std::string text =
        length >= 0 ? std::string(message, static_cast<size_t>(length)) : std::string(message);
    ReportBackendError((type == GL_DEBUG_TYPE_ERROR ? "GL error: " : "GL: ") + text);
}

} // namespace

void EnableGlDebugOutput() {
    // Filtered at the source too, so the driver does not format what would
    // be dropped; the callback checks again for drivers that ignore this.
    glDebugMessageControl(GL_DONT_CARE, GL_DONT_CARE, GL_DONT_CARE, 0, nullptr, GL_FALSE);
    glDebugMessageControl(GL_DONT_CARE, GL_DEBUG_TYPE_ERROR, GL_DONT_CARE, 0, nullptr, GL_TRUE);
    glDebugMessageControl(GL_DONT_CARE, GL_DONT_CARE, GL_DEBUG_SEVERITY_HIGH, 0, nullptr, GL_TRUE);
    glDebugMessageControl(GL_DEBUG_SOURCE_SHADER_COMPILER, GL_DONT_CARE, GL_DONT_CARE, 0, nullptr,
                          GL_FALSE);
    glDebugMessageCallback(OnGlMessage, nullptr);
    glEnable(GL_DEBUG_OUTPUT);
    glEnable(GL_DEBUG_OUTPUT_SYNCHRONOUS);
}
