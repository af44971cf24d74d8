// The bridge inside a real JVM, against a registry stand-in the test
// prepares.
#include <gtest/gtest.h>
#include <string>

#include "platform/file.h"
#include "platform/procinfo.h"
#include "platform/registry.h"
#include "testkit.h"

namespace {

TEST(RegJniJvm, EveryMethodFromJava) {
  TkScratch s;
  pl_setenv("TOVX_REGISTRY", s.path("registry").c_str());
  PlHkey k, sub;
  ASSERT_EQ(pl_reg_create(pl_reg_root(PL_HKCU), "Software\\Tovx", PL_REG_ALL, &k), 0);
  for (const char *n : {"Beta", "Alpha", "\xc3\x9cml\xc3\xa4ut"}) {
    ASSERT_EQ(pl_reg_create(k, n, PL_REG_ALL, &sub), 0);
    pl_reg_close(sub);
  }
  int32_t minus5 = -5;
  const char bin[] = {1, 0, -3};
  ASSERT_EQ(pl_reg_set_value(k, "Text", PL_REG_SZ, "h\xc3\xa9llo\0tail", 13), 0);
  ASSERT_EQ(pl_reg_set_value(k, "Num", PL_REG_DWORD, &minus5, 4), 0);
  ASSERT_EQ(pl_reg_set_value(k, "Bin", PL_REG_BINARY, bin, 3), 0);
  ASSERT_EQ(pl_reg_set_value(k, "Exp", PL_REG_EXPAND_SZ, "%x%", 4), 0);
  ASSERT_EQ(pl_reg_set_value(k, "Multi", PL_REG_MULTI_SZ, "a\0b\0", 5), 0);
  ASSERT_EQ(pl_reg_set_value(k, "", PL_REG_SZ, "dflt", 5), 0);
  pl_reg_close(k);

  std::string dir = tk_bin("x");
  dir = dir.substr(0, dir.size() - 2);
  TkResult r = tk_run(s, {TOVX_JAVA, "-Djava.library.path=" + dir, "-cp", TOVX_JAVA_CLASSES,
                          "com.Zentrak.soft.Voxhelm.QRN.agent4.am.cnf.RegJniCheck", "Software\\Tovx"},
                      "", {"TOVX_REGISTRY=" + s.path("registry")}, 120000);
  EXPECT_EQ(r.code, 0) << r.err;
  const char *unknown = "throws null 0 The type of the value is unknown.";
  EXPECT_EQ(r.out, std::string("subcount Integer 3\n"
                               "sub0 String Alpha\n"
                               "sub1 String Beta\n"
                               "sub2 String \\u00dcml\\u00e4ut\n"
                               "sub3 throws RegEnumKeyEx 259 No more data is available.\\n\n"
                               "valuecount Integer 6\n"
                               "name0 String \n"
                               "name1 String Bin\n"
                               "name2 String Exp\n"
                               "name3 String Multi\n"
                               "name4 String Num\n"
                               "name5 String Text\n"
                               "value Text String h\\u00e9llo\n"
                               "value NUM Integer -5\n"
                               "value Bin byte[] 1 0 -3\n"
                               "value Exp ") + unknown + "\n" +
                       "value Multi " + unknown + "\n" +
                       "value Missing throws RegQueryValueEx 2 The system cannot find the file specified.\\n\n"
                       "value null String dflt\n"
                       "value empty String dflt\n"
                       "missing throws RegOpenKeyEx 2 The system cannot find the file specified.\\n\n"
                       "reopen same String yes\n"
                       "close String done\n"
                       "close again throws RegCloseKey 6 The handle is invalid.\\n\n");
}
}
