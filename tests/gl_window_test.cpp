// tests/gl_window_test.cpp: the standing GL state the program sets up.
#include "GlTestWindow.h"

#include <SDL_opengl.h>
#include <gtest/gtest.h>

TEST(GlState, StandingStateCullsFrontFacesWithLessOrEqualDepth)
{
    ASSERT_TRUE(ensureGlWindow());
    GLint value = 0;
    glGetIntegerv(GL_CULL_FACE_MODE, &value);
    EXPECT_EQ(value, GL_FRONT);
    EXPECT_TRUE(glIsEnabled(GL_CULL_FACE));
    glGetIntegerv(GL_DEPTH_FUNC, &value);
    EXPECT_EQ(value, GL_LEQUAL);
    glGetIntegerv(GL_BLEND_SRC, &value);
    EXPECT_EQ(value, GL_SRC_ALPHA);
    glGetIntegerv(GL_BLEND_DST, &value);
    EXPECT_EQ(value, GL_ONE_MINUS_SRC_ALPHA);
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &value);
    EXPECT_EQ(value, 1);
    EXPECT_TRUE(glIsEnabled(GL_LINE_SMOOTH));
    glGetTexGeniv(GL_S, GL_TEXTURE_GEN_MODE, &value);
    EXPECT_EQ(value, GL_SPHERE_MAP);

    // Clearing gives black, which is all the empty program shows.
    glClear(GL_COLOR_BUFFER_BIT);
    uint8_t rgba[4];
    readPixel(10, 10, rgba);
    EXPECT_EQ(rgba[0], 0);
    EXPECT_EQ(rgba[1], 0);
    EXPECT_EQ(rgba[2], 0);
}
