// The plug-in frame linked straight into the test, linked to a stand-in host.
#include "kelpotools.h"
#include "messages.h"
#include "script_functions.h"
#include "stand_in_host.h"

#include <gtest/gtest.h>

namespace {

class Frame : public ::testing::Test {
protected:
    void SetUp() override { DM_set_host(host.interface()); }
    void TearDown() override { DM_set_host(nullptr); }
    standin::Host host;
};

}  // namespace

TEST_F(Frame, ResultOfEmptyTextIsOneEmptyLine)
{
    DM_result("");
    ASSERT_EQ(host.results().size(), 1u);
    EXPECT_EQ(host.results()[0], "");
    EXPECT_EQ(host.live_strings(), 0u);
}

TEST_F(Frame, CoreMessagesReachTheResultsWindowWhole)
{
    // The longest text the core formats does not fit the shared buffer.
    reportf("Ellipticity has been refined in %d steps using downhill simplex. a/b=%g, angle of "
            "major axis=%g \xB0. \n",
            101, 1.03521, 47.2346);
    ASSERT_EQ(host.results().size(), 1u);
    EXPECT_EQ(host.results()[0],
              "Ellipticity has been refined in 101 steps using downhill simplex. a/b=1.03521, "
              "angle of major axis=47.2346 \xB0. \n");
    EXPECT_EQ(host.results()[0].size(), 111u);
}

TEST_F(Frame, HostFailureInResultThrows)
{
    host.fail_operation("Result");
    EXPECT_THROW(DM_result("x"), HostError);
    host.fail_operation("");
    EXPECT_EQ(host.live_strings(), 0u);
}

TEST_F(Frame, StringsKeepTheirBytes)
{
    dm_string s = DM_make_string(std::string("a\xB0\0b", 4), 0);
    EXPECT_EQ(DM_string_to_std(s, 0), std::string("a\xB0\0b", 4));
}

TEST_F(Frame, EverySignatureTextIsReadableByTheHost)
{
    for (const char *text : script_function_signatures()) {
        standin::Signature s;
        EXPECT_TRUE(standin::parse_signature(text, s)) << text;
    }
}

namespace {
void takes_pointer(float *) {}
float takes_text(DM_StringToken) { return 0.0f; }
}  // namespace

TEST_F(Frame, HostRefusesATextThatDoesNotMatchTheHandler)
{
    Gatan::PlugIn::PlugInMain main;
    EXPECT_THROW(main.AddFunction("void f(float)", takes_pointer), HostError);
    EXPECT_THROW(main.AddFunction("void f(float *", takes_pointer), HostError);
    EXPECT_THROW(main.AddFunction("void g(dm_string)", takes_text), HostError);
    main.AddFunction("void f(float *)", takes_pointer);
    main.AddFunction("float g(dm_string)", takes_text);
    EXPECT_EQ(host.signatures(), (std::vector<std::string>{"void f(float *)", "float g(dm_string)"}));
    main.RemoveAllFunctions();
    EXPECT_EQ(host.function_count(), 0u);
}
