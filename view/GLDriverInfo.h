#pragma once
// What the OpenGL driver offers, read once when the 3D view initialises, and
// the report of it written to the standard output and the run's log.
#include <string>
#include <vector>

struct OpenGLDriverInfo {
    std::string vendor;
    std::string renderer;
    std::string version;
    std::vector<std::string> extensions; // split at every single space, sorted
    int redBits = 0;
    int greenBits = 0;
    int blueBits = 0;
    int alphaBits = 0;
    int depthBits = 0;
    int stencilBits = 0;
    int maxTextureSize = 0;
    int maxLights = 0;
    int maxAttribStacks = 0;
    int maxModelViewStacks = 0;
    int maxProjectionStacks = 0;
    int maxClipPlanes = 0;
    int maxTextureStacks = 0;
};

// The smallest maximum texture size the view accepts: its background, platform
// and cube-face images are at most this large.
constexpr int kMinTextureSize = 1024;

// Reads the driver's strings and limits with the current context. False as
// soon as one of the strings is missing, and false when the maximum texture
// size is below kMinTextureSize (the remaining limits are then not read).
bool queryOpenGLDriverInfo(OpenGLDriverInfo& info);

// The pieces of the driver strings and limits as queryOpenGLDriverInfo fills
// them; separate from the GL calls so that a fake driver can be described.
struct DriverStrings {
    const char* vendor;
    const char* renderer;
    const char* version;
    const char* extensions;
};
bool fillDriverStrings(const DriverStrings& strings, OpenGLDriverInfo& info);

// Exact match against one of the extension names.
bool isExtensionSupported(const OpenGLDriverInfo& info, const std::string& name);

// The report's text (23 lines, the first one empty).
std::string formatOpenGLDriverInfo(const OpenGLDriverInfo& info);
// Writes the report to the standard output, then to the log.
void printOpenGLDriverInfo(const OpenGLDriverInfo& info);

// The pieces of text between occurrences of delimiter (the last one after
// the final delimiter); empty pieces only with keepEmpty. A null or empty
// delimiter gives the whole text as one piece.
void splitString(const char* text, const char* delimiter, std::vector<std::string>& out, bool keepEmpty);

// Whether the driver can draw with vertex-buffer objects: a 1.5 or later
// version or the ARB extension. Entry points alone say nothing (Mesa hands
// out an address for any name).
bool driverHasVertexBuffers(const OpenGLDriverInfo& info);
