#include "plugin_fixture.h"

#include <gtest/gtest.h>

#include <cmath>

using standin::float_arg;
using standin::string_arg;

namespace {

class Utilities : public PluginTest {
 protected:
  standin::CallResult CallWithText(const std::string& function, const std::string& text,
                                   std::vector<DM_Arg> more = {}) {
    DM_StringToken s = host_.NewString(text);
    std::vector<DM_Arg> args{string_arg(s)};
    args.insert(args.end(), more.begin(), more.end());
    standin::CallResult r = host_.Call(function, args);
    host_.ReleaseString(s);
    return r;
  }
  float Mouse(const std::string& name) { return CallWithText("GetMouseState", name).value; }
  float PixelSize(const std::string& text) { return CallWithText("extractpixelsize", text).value; }
};

}  // namespace

TEST_F(Utilities, MouseStateOnlyForAFreshPressOfANamedButton) {
  host_.SetKeyState(1, static_cast<int16_t>(0x8001));
  EXPECT_EQ(Mouse("Lm"), 1.0f);
  EXPECT_EQ(Mouse("lM"), 0.0f);  // still down, but no longer a fresh press
  host_.SetKeyState(4, static_cast<int16_t>(0x8001));
  EXPECT_EQ(Mouse("MM"), 1.0f);
  host_.SetKeyState(2, static_cast<int16_t>(0x8000));
  EXPECT_EQ(Mouse("rm"), 0.0f);
  for (const char* bad : {"LEFT", "l m", ""}) EXPECT_EQ(Mouse(bad), -1.0f) << bad;
  EXPECT_TRUE(host_.ScriptErrors().empty());
}

TEST_F(Utilities, KeyStrokes) {
  host_.Call("FakeESC", {});
  host_.Call("FakeShiftDown", {});
  host_.Call("FakeShiftUp", {});
  const auto& k = host_.KeyEvents();
  ASSERT_EQ(k.size(), 4u);
  EXPECT_EQ(k[0].virtual_key, 27);
  EXPECT_EQ(k[0].flags, 0u);
  EXPECT_EQ(k[1].virtual_key, 27);
  EXPECT_EQ(k[1].flags, 2u);
  EXPECT_EQ(k[2].virtual_key, 16);
  EXPECT_EQ(k[2].flags, 0u);
  EXPECT_EQ(k[3].virtual_key, 16);
  EXPECT_EQ(k[3].flags, 2u);
}

TEST_F(Utilities, SubStrings) {
  auto sub = [&](float start, float length) {
    return CallWithText("GetSubString", "abcdef", {float_arg(start), float_arg(length)});
  };
  EXPECT_EQ(sub(2, 3).text, "cde");
  EXPECT_EQ(sub(2.9f, 3.9f).text, "cde");
  EXPECT_EQ(sub(4, 10).text, "ef");
  EXPECT_EQ(sub(6, 1).text, "");
  EXPECT_EQ(sub(2, -1).text, "cdef");  // a negative length wraps: the rest
  EXPECT_EQ(sub(2, std::nanf("")).text, "cdef");
  EXPECT_TRUE(host_.ScriptErrors().empty());
  for (float bad : {7.0f, -1.0f, std::nanf(""), 1e30f}) {
    standin::CallResult r = sub(bad, 1);
    EXPECT_EQ(r.script_errors.size(), 1u) << bad;
    EXPECT_EQ(r.text, "");
  }
  EXPECT_EQ(host_.LiveStrings(), 0u);
}

TEST_F(Utilities, PixelSizeFromText) {
  EXPECT_EQ(PixelSize("0.25"), 0.25f);
  EXPECT_EQ(PixelSize("x 0.25"), 0.25f);
  EXPECT_EQ(PixelSize("=0.25 nm"), 0.25f);
  EXPECT_EQ(PixelSize("nm"), 0.0f);
  EXPECT_EQ(PixelSize(" 1.5e-3"), 0.0015f);
  // A long text is read whole.
  EXPECT_EQ(PixelSize(std::string(200, ' ') + "2.5"), 2.5f);
  EXPECT_TRUE(host_.ScriptErrors().empty());
}

TEST_F(Utilities, TextFunctionsCleanUpWhenTheHostFails) {
  for (const char* function : {"GetSubString", "extractpixelsize"}) {
    check_host_failures(host_, function, [&] {
      PreparedCall c;
      DM_StringToken s = host_.NewString("abcdef");
      c.args = {string_arg(s)};
      if (std::string(function) == "GetSubString")
        c.args.insert(c.args.end(), {float_arg(1), float_arg(2)});
      c.release = [this, s] { host_.ReleaseString(s); };
      return c;
    });
  }
}
