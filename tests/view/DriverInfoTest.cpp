// The driver report and the vertex-buffer decision from described drivers.
#include "view/GLDriverInfo.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

TEST(DriverInfo, splitsAtEveryDelimiter) {
    struct Row {
        const char* text;
        bool keepEmpty;
        std::vector<std::string> pieces;
    };
    const Row rows[] = {
        {"a b c", false, {"a", "b", "c"}},     {"a  b ", true, {"a", "", "b", ""}},
        {"a  b ", false, {"a", "b"}},          {"", true, {""}},
        {"GL_A GL_B", true, {"GL_A", "GL_B"}},
    };
    for (const Row& r : rows) {
        std::vector<std::string> out;
        splitString(r.text, " ", out, r.keepEmpty);
        EXPECT_EQ(out, r.pieces) << '"' << r.text << '"';
    }
}

TEST(DriverInfo, reportCountsExtensionsAndListsTheLimits) {
    OpenGLDriverInfo info;
    // A trailing space counts one empty extension.
    ASSERT_TRUE(fillDriverStrings({"Mesa", "llvmpipe", "4.5 Mesa 22.3.6", "GL_B GL_A "}, info));
    EXPECT_EQ(info.extensions, (std::vector<std::string>{"", "GL_A", "GL_B"}));
    info.redBits = info.greenBits = info.blueBits = 8;
    info.depthBits = 24;
    info.maxTextureSize = 16384;
    info.maxLights = 8;
    const std::string text = formatOpenGLDriverInfo(info);
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        lines.push_back(l);
    ASSERT_EQ(lines.size(), 23u);
    EXPECT_EQ(lines[0], "");
    EXPECT_EQ(lines[1], std::string(70, '='));
    EXPECT_EQ(lines[2], "OpenGL Driver Info");
    EXPECT_EQ(lines[4], "Vendor: Mesa");
    EXPECT_EQ(lines[5], "Version: 4.5 Mesa 22.3.6");
    EXPECT_EQ(lines[6], "Renderer: llvmpipe");
    EXPECT_EQ(lines[8], "Color Bits(R,G,B,A): (8, 8, 8, 0)");
    EXPECT_EQ(lines[12], "Max Texture Size: 16384x16384");
    EXPECT_EQ(lines[13], "Max Lights: 8");
    EXPECT_EQ(lines[20], "Total Number of Extensions: 3");
    EXPECT_EQ(lines[21], std::string(30, '='));
    EXPECT_EQ(lines[22], std::string(70, '='));
}

TEST(DriverInfo, missingStringFailsAndVertexBuffersFollowVersionOrExtension) {
    OpenGLDriverInfo info;
    EXPECT_FALSE(fillDriverStrings({"Mesa", nullptr, "4.5", ""}, info));
    struct Row {
        const char* version;
        const char* extensions;
        bool buffers;
    };
    const Row rows[] = {
        {"4.5 (Compatibility Profile) Mesa 22.3.6", "", true},
        {"1.5.0", "", true},
        {"1.4 Old", "GL_ARB_multitexture", false},
        {"1.4 Old", "GL_ARB_multitexture GL_ARB_vertex_buffer_object", true},
        {"garbage", "", false},
    };
    for (const Row& r : rows) {
        ASSERT_TRUE(fillDriverStrings({"v", "r", r.version, r.extensions}, info));
        EXPECT_EQ(driverHasVertexBuffers(info), r.buffers) << r.version << " / " << r.extensions;
    }
}

} // namespace
