// JVM_OnLoad against a fake JavaVM and JVMPI table.
#include <gtest/gtest.h>
#include <vector>

#include "ctrlshim.h"

namespace {

struct FakeVm {
  JNIInvokeInterface_ table;
  JavaVM vm;
  JVMPI_Interface jvmpi;
  bool hasJvmpi = true;
  jint enableResult = 0;
  std::vector<jint> asked;                 // versions asked of GetEnv
  std::vector<std::pair<char, jint>> calls; // 'E'nable / 'D'isable, event
};
FakeVm *fs_vm;
std::vector<int (*)(int)> fs_registered;

jint JNICALL fs_getEnv(JavaVM *, void **env, jint version) {
  fs_vm->asked.push_back(version);
  if (!fs_vm->hasJvmpi || version != JVMPI_VERSION_1)
    return JNI_EVERSION;
  *env = &fs_vm->jvmpi;
  return JNI_OK;
}
jint fs_enable(jint event, void *arg) {
  EXPECT_EQ(arg, nullptr);
  fs_vm->calls.push_back({'E', event});
  return fs_vm->enableResult;
}
jint fs_disable(jint event, void *arg) {
  EXPECT_EQ(arg, nullptr);
  fs_vm->calls.push_back({'D', event});
  return 0;
}
int fs_register(int (*handler)(int)) {
  fs_registered.push_back(handler);
  return 0;
}

struct Plugin : ::testing::Test {
  FakeVm fake;
  void SetUp() override {
    CtrlShimReset();
    CtrlShimSetRegistrar(fs_register);
    fs_registered.clear();
    fs_vm = &fake;
    memset(&fake.table, 0, sizeof fake.table);
    fake.table.GetEnv = fs_getEnv;
    fake.vm.functions = &fake.table;
    memset(&fake.jvmpi, 0, sizeof fake.jvmpi);
    fake.jvmpi.version = JVMPI_VERSION_1;
    fake.jvmpi.EnableEvent = fs_enable;
    fake.jvmpi.DisableEvent = fs_disable;
  }
  void TearDown() override { CtrlShimSetRegistrar(nullptr); }
};

TEST_F(Plugin, ListensForTheFirstClassAndInstallsTheHandlerOnce) {
  ASSERT_EQ(JVM_OnLoad(&fake.vm, nullptr, nullptr), JNI_OK);
  EXPECT_EQ(fake.asked, (std::vector<jint>{0x10000001}));
  ASSERT_EQ(fake.calls.size(), 1u);
  EXPECT_EQ(fake.calls[0], std::make_pair('E', jint(35)));
  ASSERT_EQ(fake.jvmpi.NotifyEvent, &CtrlShimNotifyEvent);
  EXPECT_TRUE(fs_registered.empty()) << "nothing until the first class";

  unsigned char bytes[] = {0xca, 0xfe, 0xba, 0xbe};
  JVMPI_Event other = {};
  other.event_type = 36;
  fake.jvmpi.NotifyEvent(&other);
  fake.jvmpi.NotifyEvent(nullptr);
  EXPECT_TRUE(fs_registered.empty());

  JVMPI_Event hook = {};
  hook.event_type = 35;
  hook.u.class_load_hook.class_data = bytes;
  hook.u.class_load_hook.class_data_len = 4;
  fake.jvmpi.NotifyEvent(&hook);
  EXPECT_EQ(hook.u.class_load_hook.new_class_data, bytes) << "the class is left as it is";
  EXPECT_EQ(hook.u.class_load_hook.new_class_data_len, 4);
  EXPECT_EQ(bytes[0], 0xca);
  ASSERT_EQ(fs_registered.size(), 1u);
  EXPECT_EQ(fs_registered[0], &CtrlShimHandler);
  ASSERT_EQ(fake.calls.size(), 2u);
  EXPECT_EQ(fake.calls[1], std::make_pair('D', jint(35)));

  // A second load does nothing and reports success.
  EXPECT_EQ(JVM_OnLoad(&fake.vm, nullptr, nullptr), JNI_OK);
  EXPECT_EQ(fake.asked.size(), 1u);
}

TEST_F(Plugin, RefusesAVmWithoutJvmpi) {
  fake.hasJvmpi = false;
  EXPECT_EQ(JVM_OnLoad(&fake.vm, nullptr, nullptr), JNI_ERR);
  EXPECT_TRUE(fake.calls.empty());
  EXPECT_TRUE(fs_registered.empty());
  EXPECT_EQ(JVM_OnLoad(&fake.vm, nullptr, nullptr), JNI_OK) << "once only, whatever the outcome";
  CtrlShimReset();
  EXPECT_EQ(JVM_OnLoad(nullptr, nullptr, nullptr), JNI_ERR);
}

TEST_F(Plugin, FailedEnableIsAFailedLoad) {
  fake.enableResult = -1;
  EXPECT_EQ(JVM_OnLoad(&fake.vm, nullptr, nullptr), JNI_ERR);
}

TEST(ConsoleHandler, ConsumesCloseAndLogoffOnly) {
  const struct {
    int event, handled;
  } table[] = {{0, 0}, {1, 0}, {2, 1}, {3, 0}, {4, 0}, {5, 1}, {6, 0}, {7, 0}, {-1, 0}, {100, 0}};
  for (const auto &t : table)
    EXPECT_EQ(CtrlShimHandler(t.event), t.handled) << t.event;
}
}
