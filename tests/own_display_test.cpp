// tests/own_display_test.cpp: the input tests' own displays (tests/OwnDisplay.h).
#include "OwnDisplay.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <cstdlib>
#include <string>

namespace {

bool takesConnections(const std::string& name)
{
    Display* display = XOpenDisplay(name.c_str());
    if (!display)
        return false;
    XCloseDisplay(display);
    return true;
}

} // namespace

TEST(OwnDisplayTest, InputTestsAreTheOnesTheirPatternsName)
{
    const std::string patterns = "AuthoringTool*:PathEditorTool.*:EndToEnd.*";
    const struct {
        const char* name;
        bool        input;
    } cases[] = {
        { "AuthoringToolKeepsKeys.ASecondEditor", true }, { "PathEditorTool.StripClick", true },
        { "EndToEnd.ShowRuns", true },                    { "CaptureEndToEnd.Frames", false },
        { "PathEditor.Undo", false },                     { "EndToEndX.Other", false },
    };
    for (const auto& c : cases)
        EXPECT_EQ(matchesTestPatterns(c.name, patterns), c.input) << c.name;
    EXPECT_FALSE(matchesTestPatterns("EndToEnd.ShowRuns", ""));
    EXPECT_TRUE(matchesTestPatterns("EndToEnd.ShowRuns", "::EndToEnd.*:"));
}

TEST(OwnDisplayTest, TakesConnectionsWhileItLastsAndPutsDisplayBack)
{
    ASSERT_TRUE(haveDisplay()) << "run the tests under Xvfb (scripts/test.sh does)";
    const std::string outer = std::getenv("DISPLAY");
    std::string name;
    {
        OwnDisplay own;
        ASSERT_TRUE(own.started()) << own.why();
        name = own.name();
        EXPECT_NE(name, outer);
        EXPECT_EQ(std::getenv("DISPLAY"), name);
        EXPECT_TRUE(takesConnections(name));
    }
    EXPECT_EQ(std::getenv("DISPLAY"), outer);
    EXPECT_FALSE(takesConnections(name)) << name << " still answers after its test";
}
