// The bridge's exports, loaded as the JVM loads them and driven through a
// fake JNI environment, against the registry (wine's real one, or the
// stand-in on POSIX).
#include <gtest/gtest.h>
#include <string>

#include "fake_jni.h"
#include "platform/dynlib.h"
#include "platform/file.h"
#include "platform/procinfo.h"
#include "platform/registry.h"
#include "testkit.h"

namespace {

const std::string kPrefix = "Java_com_Zentrak_soft_Voxhelm_QRN_agent4_am_cnf_Win32NativeUtil_";
const jint kHkcu = static_cast<jint>(0x80000001u);
const jint kHklm = static_cast<jint>(0x80000002u);

typedef jint(JNICALL *OpenFn)(JNIEnv *, jobject, jint, jstring);
typedef void(JNICALL *CloseFn)(JNIEnv *, jobject, jint);
typedef jint(JNICALL *CountFn)(JNIEnv *, jobject, jint);
typedef jstring(JNICALL *NameFn)(JNIEnv *, jobject, jint, jint);
typedef jobject(JNICALL *ValueFn)(JNIEnv *, jobject, jint, jstring);

struct Bridge : ::testing::Test {
  TkScratch s;
  PlDynlib *lib = nullptr;
  FakeJni jni;
  std::string base;
  OpenFn open = nullptr;
  CloseFn close = nullptr;
  CountFn subCount = nullptr, valueCount = nullptr;
  NameFn subName = nullptr, valueName = nullptr;
  ValueFn value = nullptr;

  // As the JVM does: the decorated name first, then the plain one.
  void *find(const char *method, int bytes) {
    std::string decorated = "_" + kPrefix + method + "@" + std::to_string(bytes);
    void *f = pl_dl_sym(lib, decorated.c_str());
    return f ? f : pl_dl_sym(lib, (kPrefix + method).c_str());
  }
  void SetUp() override {
    pl_setenv("TOVX_REGISTRY", s.path("registry").c_str());
    std::string path = tk_bin("x");
    path = path.substr(0, path.size() - 1 - strlen(pl_exe_suffix)) + pl_dl_prefix + "tovxregjni" + pl_dl_suffix;
    ASSERT_EQ(pl_dl_open(path.c_str(), &lib), 0) << path;
    open = reinterpret_cast<OpenFn>(find("regOpenKey", 16));
    close = reinterpret_cast<CloseFn>(find("regCloseKey", 12));
    subCount = reinterpret_cast<CountFn>(find("getSubKeyCount", 12));
    subName = reinterpret_cast<NameFn>(find("getSubKeyNameAt", 16));
    valueCount = reinterpret_cast<CountFn>(find("getValueCount", 12));
    valueName = reinterpret_cast<NameFn>(find("getValueNameAt", 16));
    value = reinterpret_cast<ValueFn>(find("getValue", 16));
    ASSERT_TRUE(open && close && subCount && subName && valueCount && valueName && value);

    base = "Software\\TovxJniTest\\k" + std::to_string(pl_getpid());
    PlHkey k, sub;
    ASSERT_EQ(pl_reg_create(pl_reg_root(PL_HKCU), base.c_str(), PL_REG_ALL, &k), 0);
    for (const char *n : {"Beta", "Alpha"}) {
      ASSERT_EQ(pl_reg_create(k, n, PL_REG_ALL, &sub), 0);
      pl_reg_close(sub);
    }
    int32_t minus5 = -5;
    const char bin[] = {1, 0, 3};
    ASSERT_EQ(pl_reg_set_value(k, "Text", PL_REG_SZ, "hello", 6), 0);
    ASSERT_EQ(pl_reg_set_value(k, "Num", PL_REG_DWORD, &minus5, 4), 0);
    ASSERT_EQ(pl_reg_set_value(k, "Bin", PL_REG_BINARY, bin, 3), 0);
    ASSERT_EQ(pl_reg_set_value(k, "Exp", PL_REG_EXPAND_SZ, "%x%", 4), 0);
    ASSERT_EQ(pl_reg_set_value(k, "", PL_REG_SZ, "dflt", 5), 0);
    pl_reg_close(k);
  }
  void TearDown() override {
    PlHkey root = pl_reg_root(PL_HKCU);
    for (const char *n : {"\\Alpha", "\\Beta", ""})
      pl_reg_delete_key(root, (base + n).c_str(), 0);
    pl_dl_close(lib);
  }
  jint openBase() { return open(jni.env(), nullptr, kHkcu, jni.str(std::u16string(base.begin(), base.end()))); }
  // The pending Win32Exception as "function code", cleared.
  std::string taken() {
    FakeObject *e = jni.pending;
    jni.pending = nullptr;
    if (!e || e->kind != FakeObject::Win32Exception)
      return e ? "other" : "none";
    return (e->function ? to_narrow(e->function->text) : "null") + " " + std::to_string(e->number);
  }
  std::string text(jobject s) {
    FakeObject *o = reinterpret_cast<FakeObject *>(s);
    return o && o->kind == FakeObject::String ? to_narrow(o->text) : "(not a string)";
  }
};

TEST_F(Bridge, OpensEnumeratesAndCloses) {
  jint k = openBase();
  ASSERT_NE(k, 0) << taken();
  EXPECT_EQ(subCount(jni.env(), nullptr, k), 2);
  EXPECT_EQ(text(subName(jni.env(), nullptr, k, 0)), "Alpha");
  EXPECT_EQ(text(subName(jni.env(), nullptr, k, 1)), "Beta");
  EXPECT_EQ(subName(jni.env(), nullptr, k, 2), nullptr);
  EXPECT_EQ(taken(), "RegEnumKeyEx 259");
  EXPECT_EQ(valueCount(jni.env(), nullptr, k), 5);
  std::vector<std::string> names;
  for (jint i = 0; i < 5; ++i)
    names.push_back(text(valueName(jni.env(), nullptr, k, i)));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"", "Bin", "Exp", "Num", "Text"}));
  EXPECT_EQ(valueName(jni.env(), nullptr, k, 5), nullptr);
  EXPECT_EQ(taken(), "RegEnumValue 259");

  jint again = open(jni.env(), nullptr, k, nullptr);
  ASSERT_NE(again, 0) << "a null name reopens the key itself";
  EXPECT_NE(again, k);
  EXPECT_EQ(subCount(jni.env(), nullptr, again), 2);
  close(jni.env(), nullptr, again);
  close(jni.env(), nullptr, k);
  EXPECT_EQ(taken(), "none");
  close(jni.env(), nullptr, k);
  EXPECT_EQ(taken(), "RegCloseKey 6");
  EXPECT_EQ(subCount(jni.env(), nullptr, k), 0);
  EXPECT_EQ(taken(), "RegQueryInfoKey 6");
}

TEST_F(Bridge, MissingKeyThrowsWithTheSystemText) {
  EXPECT_EQ(open(jni.env(), nullptr, kHklm, jni.str(u"SOFTWARE\\TovxNoSuchKey\\x")), 0);
  FakeObject *e = jni.pending;
  ASSERT_NE(e, nullptr);
  ASSERT_EQ(e->kind, FakeObject::Win32Exception);
  char expect[512];
  ASSERT_TRUE(pl_reg_error_text(2, expect, sizeof expect));
  ASSERT_NE(e->message, nullptr);
  EXPECT_EQ(to_narrow(e->message->text), expect) << "the system's text, line end included";
  EXPECT_EQ(taken(), "RegOpenKeyEx 2");
}

TEST_F(Bridge, ValuesComeBackByType) {
  jint k = openBase();
  ASSERT_NE(k, 0);
  EXPECT_EQ(text(value(jni.env(), nullptr, k, jni.str(u"Text"))), "hello");
  FakeObject *num = reinterpret_cast<FakeObject *>(value(jni.env(), nullptr, k, jni.str(u"num")));
  ASSERT_NE(num, nullptr);
  EXPECT_EQ(num->kind, FakeObject::Integer);
  EXPECT_EQ(num->number, -5);
  FakeObject *bin = reinterpret_cast<FakeObject *>(value(jni.env(), nullptr, k, jni.str(u"Bin")));
  ASSERT_NE(bin, nullptr);
  EXPECT_EQ(bin->bytes, (std::vector<jbyte>{1, 0, 3}));
  EXPECT_EQ(text(value(jni.env(), nullptr, k, nullptr)), "dflt");
  EXPECT_EQ(text(value(jni.env(), nullptr, k, jni.str(u""))), "dflt");

  EXPECT_EQ(value(jni.env(), nullptr, k, jni.str(u"Exp")), nullptr);
  ASSERT_NE(jni.pending, nullptr);
  ASSERT_NE(jni.pending->message, nullptr);
  EXPECT_EQ(to_narrow(jni.pending->message->text), "The type of the value is unknown.");
  EXPECT_EQ(taken(), "null 0");
  EXPECT_EQ(value(jni.env(), nullptr, k, jni.str(u"Missing")), nullptr);
  EXPECT_EQ(taken(), "RegQueryValueEx 2");
  close(jni.env(), nullptr, k);
}

TEST_F(Bridge, JvmFailuresLeaveTheirOwnException) {
  jni.failFindClass = true;
  EXPECT_EQ(open(jni.env(), nullptr, kHklm, jni.str(u"SOFTWARE\\TovxNoSuchKey")), 0);
  EXPECT_EQ(jni.throws, 0);
  ASSERT_NE(jni.pending, nullptr);
  EXPECT_EQ(jni.pending->kind, FakeObject::Class);
}
}
