#include "ctrlshim.h"

#include <jvmti.h>

#include <cstring>

#include "platform/console.h"

namespace {

bool fs_loaded;       // JVM_OnLoad has run
bool fs_agentLoaded;  // Agent_OnLoad has run
JVMPI_Interface *fs_jvmpi;
int (*fs_registrar)(int (*)(int));

void fs_register() { (fs_registrar ? fs_registrar : pl_console_add_handler)(CtrlShimHandler); }

// A modern JVM installs its own handlers while it starts: the plug-in's
// goes in once the JVM is up, so that it comes after (and so before, in
// the calling order) theirs.
void JNICALL fs_onVmInit(jvmtiEnv *, JNIEnv *, jthread) { fs_register(); }

} // namespace

int CtrlShimHandler(int event) { return event == PL_CTRL_CLOSE || event == PL_CTRL_LOGOFF ? 1 : 0; }

void CtrlShimReset() {
  fs_loaded = fs_agentLoaded = false;
  fs_jvmpi = nullptr;
}

void CtrlShimSetRegistrar(int (*registrar)(int (*)(int))) { fs_registrar = registrar; }

void CtrlShimNotifyEvent(JVMPI_Event *event) {
  if (!event || event->event_type != JVMPI_EVENT_CLASS_LOAD_HOOK)
    return;
  // The class stays as it was loaded.
  event->u.class_load_hook.new_class_data = event->u.class_load_hook.class_data;
  event->u.class_load_hook.new_class_data_len = event->u.class_load_hook.class_data_len;
  fs_register();
  fs_jvmpi->DisableEvent(JVMPI_EVENT_CLASS_LOAD_HOOK, nullptr);
}

extern "C" {

JNIEXPORT jint JNICALL JVM_OnLoad(JavaVM *vm, char *options, void *reserved) {
  (void)options;
  (void)reserved;
  if (fs_loaded)
    return JNI_OK;
  fs_loaded = true;
  if (!vm)
    return JNI_ERR;
  void *env = nullptr;
  if (vm->GetEnv(&env, JVMPI_VERSION_1) < 0 || !env)
    return JNI_ERR;
  fs_jvmpi = static_cast<JVMPI_Interface *>(env);
  fs_jvmpi->NotifyEvent = CtrlShimNotifyEvent;
  return fs_jvmpi->EnableEvent(JVMPI_EVENT_CLASS_LOAD_HOOK, nullptr) == 0 ? JNI_OK : JNI_ERR;
}

JNIEXPORT jint JNICALL Agent_OnLoad(JavaVM *vm, char *options, void *reserved) {
  (void)options;
  (void)reserved;
  if (fs_agentLoaded)
    return JNI_OK;
  fs_agentLoaded = true;
  jvmtiEnv *jvmti = nullptr;
  if (!vm || vm->GetEnv(reinterpret_cast<void **>(&jvmti), JVMTI_VERSION_1_0) != JNI_OK || !jvmti)
    return JNI_ERR;
  jvmtiEventCallbacks callbacks;
  memset(&callbacks, 0, sizeof callbacks);
  callbacks.VMInit = fs_onVmInit;
  if (jvmti->SetEventCallbacks(&callbacks, static_cast<jint>(sizeof callbacks)) != JVMTI_ERROR_NONE ||
      jvmti->SetEventNotificationMode(JVMTI_ENABLE, JVMTI_EVENT_VM_INIT, nullptr) != JVMTI_ERROR_NONE)
    return JNI_ERR;
  return JNI_OK;
}

} // extern "C"
