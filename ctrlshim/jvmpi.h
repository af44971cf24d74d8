// The few JVMPI (version 1) declarations the plug-in needs, as the
// profiler interface publishes them.
#pragma once
#include <jni.h>

#define JVMPI_VERSION_1 ((jint)0x10000001)
#define JVMPI_EVENT_CLASS_LOAD_HOOK ((jint)35)

struct JVMPI_Event {
  jint event_type;
  JNIEnv *env_id;
  union {
    struct {
      unsigned char *class_data;
      jint class_data_len;
      unsigned char *new_class_data;
      jint new_class_data_len;
      void *(*malloc_f)(unsigned int);
    } class_load_hook;
  } u;
};

struct JVMPI_Interface {
  jint version;
  void (*NotifyEvent)(JVMPI_Event *event);
  jint (*EnableEvent)(jint event_type, void *arg);
  jint (*DisableEvent)(jint event_type, void *arg);
  // Further entries follow in the JVM's record; the plug-in uses none.
};
