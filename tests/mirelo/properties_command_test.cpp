// mirelo properties without a display says why it shows nothing (the test
// programs run without one).
#include "shell_test_support.h"

namespace mirelo::test {
namespace {

TEST_F(ShellTest, PropertiesWithoutADisplaySaysWhy) {
  Result r = mirelo({"properties"});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.out.empty());
  EXPECT_NE(r.err.find(ansiToUtf8("Диалоги драйвера недоступны")), std::string::npos) << r.err;
  EXPECT_EQ(mirelo({"properties", "extra"}).code, 2);
  EXPECT_EQ(mirelo({"properties", "--help"}).code, 0);
}

}  // namespace
}  // namespace mirelo::test
