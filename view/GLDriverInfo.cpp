#include "view/GLDriverInfo.h"

#include "app/Log.h"

#include <GL/gl.h>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>

void splitString(const char* text, const char* delimiter, std::vector<std::string>& out, bool keepEmpty) {
    if (text == nullptr)
        return;
    const std::size_t dl = delimiter ? std::strlen(delimiter) : 0;
    if (dl == 0) {
        if (*text || keepEmpty)
            out.emplace_back(text);
        return;
    }
    const char* start = text;
    for (const char* hit = std::strstr(start, delimiter); hit; hit = std::strstr(start, delimiter)) {
        if (hit != start || keepEmpty)
            out.emplace_back(start, hit);
        start = hit + dl;
    }
    if (*start || keepEmpty)
        out.emplace_back(start);
}

bool fillDriverStrings(const DriverStrings& s, OpenGLDriverInfo& info) {
    if (!s.vendor || !s.renderer || !s.version || !s.extensions)
        return false;
    info.vendor = s.vendor;
    info.renderer = s.renderer;
    info.version = s.version;
    info.extensions.clear();
    splitString(s.extensions, " ", info.extensions, true);
    std::sort(info.extensions.begin(), info.extensions.end());
    return true;
}

bool queryOpenGLDriverInfo(OpenGLDriverInfo& info) {
    const DriverStrings s{reinterpret_cast<const char*>(glGetString(GL_VENDOR)),
                          reinterpret_cast<const char*>(glGetString(GL_RENDERER)),
                          reinterpret_cast<const char*>(glGetString(GL_VERSION)),
                          reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS))};
    if (!fillDriverStrings(s, info))
        return false;
    glGetIntegerv(GL_RED_BITS, &info.redBits);
    glGetIntegerv(GL_GREEN_BITS, &info.greenBits);
    glGetIntegerv(GL_BLUE_BITS, &info.blueBits);
    glGetIntegerv(GL_ALPHA_BITS, &info.alphaBits);
    glGetIntegerv(GL_DEPTH_BITS, &info.depthBits);
    glGetIntegerv(GL_STENCIL_BITS, &info.stencilBits);
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &info.maxTextureSize);
    if (info.maxTextureSize < kMinTextureSize)
        return false;
    glGetIntegerv(GL_MAX_LIGHTS, &info.maxLights);
    glGetIntegerv(GL_MAX_ATTRIB_STACK_DEPTH, &info.maxAttribStacks);
    glGetIntegerv(GL_MAX_MODELVIEW_STACK_DEPTH, &info.maxModelViewStacks);
    glGetIntegerv(GL_MAX_PROJECTION_STACK_DEPTH, &info.maxProjectionStacks);
    glGetIntegerv(GL_MAX_CLIP_PLANES, &info.maxClipPlanes);
    glGetIntegerv(GL_MAX_TEXTURE_STACK_DEPTH, &info.maxTextureStacks);
    return true;
}

bool isExtensionSupported(const OpenGLDriverInfo& info, const std::string& name) {
    return std::find(info.extensions.begin(), info.extensions.end(), name) != info.extensions.end();
}

bool driverHasVertexBuffers(const OpenGLDriverInfo& info) {
    int major = 0, minor = 0;
    // The version string starts "major.minor" (then release and vendor text).
    if (std::sscanf(info.version.c_str(), "%d.%d", &major, &minor) == 2 &&
        (major > 1 || (major == 1 && minor >= 5)))
        return true;
    return isExtensionSupported(info, "GL_ARB_vertex_buffer_object");
}

std::string formatOpenGLDriverInfo(const OpenGLDriverInfo& i) {
    std::ostringstream s;
    s << "\n"
      << std::string(70, '=') << "\n"
      << "OpenGL Driver Info\n"
      << "==================\n"
      << "Vendor: " << i.vendor << "\n"
      << "Version: " << i.version << "\n"
      << "Renderer: " << i.renderer << "\n"
      << "\n"
      << "Color Bits(R,G,B,A): (" << i.redBits << ", " << i.greenBits << ", " << i.blueBits << ", "
      << i.alphaBits << ")\n"
      << "Depth Bits: " << i.depthBits << "\n"
      << "Stencil Bits: " << i.stencilBits << "\n"
      << "\n"
      << "Max Texture Size: " << i.maxTextureSize << "x" << i.maxTextureSize << "\n"
      << "Max Lights: " << i.maxLights << "\n"
      << "Max Clip Planes: " << i.maxClipPlanes << "\n"
      << "Max Modelview Matrix Stacks: " << i.maxModelViewStacks << "\n"
      << "Max Projection Matrix Stacks: " << i.maxProjectionStacks << "\n"
      << "Max Attribute Stacks: " << i.maxAttribStacks << "\n"
      << "Max Texture Stacks: " << i.maxTextureStacks << "\n"
      << "\n"
      << "Total Number of Extensions: " << i.extensions.size() << "\n"
      << std::string(30, '=') << "\n"
      << std::string(70, '=') << "\n";
    return s.str();
}

void printOpenGLDriverInfo(const OpenGLDriverInfo& info) {
    const std::string text = formatOpenGLDriverInfo(info);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    // The report ends with its line break; the log adds its own and flushes.
    logString(text.substr(0, text.size() - 1), true);
}
