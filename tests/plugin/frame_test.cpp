// The plug-in frame linked straight into the test, linked to a stand-in host.
#include "kelpotools.h"
#include "messages.h"
#include "minimize.h"
#include "script_functions.h"
#include "stand_in_host.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

class Frame : public ::testing::Test {
 protected:
  void SetUp() override { DM_set_host(host_.Interface()); }
  void TearDown() override { DM_set_host(nullptr); }
  standin::Host host_;
};

}  // namespace

TEST_F(Frame, ResultOfEmptyTextIsOneEmptyLine) {
  DM_result("");
  ASSERT_EQ(host_.Results().size(), 1u);
  EXPECT_EQ(host_.Results()[0], "");
  EXPECT_EQ(host_.LiveStrings(), 0u);
}

TEST_F(Frame, CoreMessagesReachTheResultsWindowWhole) {
  // The longest text the core formats does not fit a message's first buffer.
  reportf(
      "Ellipticity has been refined in %d steps using downhill simplex. a/b=%g, angle of "
      "major axis=%g \xB0. \n",
      101, 1.03521, 47.2346);
  ASSERT_EQ(host_.Results().size(), 1u);
  EXPECT_EQ(host_.Results()[0],
            "Ellipticity has been refined in 101 steps using downhill simplex. a/b=1.03521, "
            "angle of major axis=47.2346 \xB0. \n");
  EXPECT_EQ(host_.Results()[0].size(), 111u);
}

TEST_F(Frame, HostFailureInResultThrows) {
  host_.FailOperation("Result");
  EXPECT_THROW(DM_result("x"), HostError);
  host_.FailOperation("");
  EXPECT_EQ(host_.LiveStrings(), 0u);
}

TEST_F(Frame, StringsKeepTheirBytes) {
  dm_string s = DM_make_string(std::string("a\xB0\0b", 4), 0);
  EXPECT_EQ(DM_string_to_std(s, 0), std::string("a\xB0\0b", 4));
}

TEST_F(Frame, EverySignatureTextIsReadableByTheHost) {
  for (const char* text : script_function_signatures()) {
    standin::Signature s;
    EXPECT_TRUE(standin::parse_signature(text, s)) << text;
  }
}

namespace {
void takes_pointer(float*) {}
float takes_text(DM_StringToken) {
  return 0.0f;
}
}  // namespace

TEST_F(Frame, HostRefusesATextThatDoesNotMatchTheHandler) {
  Gatan::PlugIn::PlugInMain main;
  EXPECT_THROW(main.AddFunction("void f(float)", takes_pointer), HostError);
  EXPECT_THROW(main.AddFunction("void f(float *", takes_pointer), HostError);
  EXPECT_THROW(main.AddFunction("void g(dm_string)", takes_text), HostError);
  main.AddFunction("void f(float *)", takes_pointer);
  main.AddFunction("float g(dm_string)", takes_text);
  EXPECT_EQ(host_.Signatures(),
            (std::vector<std::string>{"void f(float *)", "float g(dm_string)"}));
  main.RemoveAllFunctions();
  EXPECT_EQ(host_.FunctionCount(), 0u);
}

namespace {
void powell_gives_up() {
  throw Powell::XIterationLimit();
}
void line_gives_up(float) {
  throw LineMin::XIterationLimit();
}
float refuses(float) {
  throw std::invalid_argument("refused: bad value");
}
float halves(float* v, DM_ImageToken*) {
  return *v / 2.0f;
}
}  // namespace

TEST_F(Frame, InvokerRaisesEveryEscapingExceptionOnceWithItsText) {
  Gatan::PlugIn::PlugInMain main;
  main.AddFunction("void powell_gives_up()", powell_gives_up);
  main.AddFunction("void line_gives_up(float)", line_gives_up);
  main.AddFunction("float refuses(float)", refuses);
  using Errors = std::vector<std::string>;
  EXPECT_EQ(host_.Call("powell_gives_up", {}).script_errors,
            Errors{"powell_gives_up: the minimisation did not converge within 100 iterations"});
  EXPECT_EQ(host_.Call("line_gives_up", {standin::float_arg(1.0f)}).script_errors,
            Errors{"line_gives_up: the line search found no minimum within 100 iterations"});
  standin::CallResult r = host_.Call("refuses", {standin::float_arg(1.0f)});
  EXPECT_EQ(r.script_errors, Errors{"refuses: refused: bad value"});
  EXPECT_EQ(r.value, 0.0f);
  main.RemoveAllFunctions();
}

TEST_F(Frame, InvokerRefusesArgumentsThatDoNotFitTheHandler) {
  using I = dm_detail::Invoker<float, float*, DM_ImageToken*>;
  void* fn = reinterpret_cast<void*>(halves);
  float v = 3.0f;
  DM_ImageToken cell = nullptr;
  const DM_Arg good[2] = {standin::float_ptr_arg(&v), standin::cell_arg(&cell)};
  DM_Arg result;
  I::call(fn, good, 2, &result);
  EXPECT_EQ(result.kind, 'f');
  EXPECT_EQ(result.u.f, 1.5f);
  EXPECT_TRUE(host_.ScriptErrors().empty());

  const DM_Arg bad[][2] = {{standin::float_ptr_arg(nullptr), standin::cell_arg(&cell)},
                           {standin::float_ptr_arg(&v), standin::cell_arg(nullptr)},
                           {standin::float_arg(3.0f), standin::cell_arg(&cell)}};
  for (const auto& args : bad) {
    result.u.f = 7.0f;
    I::call(fn, args, 2, &result);
    EXPECT_EQ(result.u.f, 0.0f);
  }
  I::call(fn, good, 1, &result);
  I::call(fn, good, 3, &result);
  EXPECT_EQ(
      host_.ScriptErrors(),
      (std::vector<std::string>{"argument 1 is a null pointer", "argument 2 is a null pointer",
                                "argument 1 has the wrong type", "takes 2 arguments, not 1",
                                "takes 2 arguments, not 3"}));
}
