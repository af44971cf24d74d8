// ctrlshim: keeps console close and log-off events away from the JVM's
// own console handlers.
#pragma once
#include <jni.h>

#include "jvmpi.h"

// The console handler: 1 (consumed) for close (2) and log-off (5), 0 for
// every other event.
int CtrlShimHandler(int event);
// What registers the handler; replaceable in tests. Null restores the
// platform's registration.
void CtrlShimSetRegistrar(int (*registrar)(int (*handler)(int)));
// Forgets that the entries have run (tests).
void CtrlShimReset();
// The JVMPI event handler.
void CtrlShimNotifyEvent(JVMPI_Event *event);

extern "C" {
JNIEXPORT jint JNICALL JVM_OnLoad(JavaVM *vm, char *options, void *reserved);
JNIEXPORT jint JNICALL Agent_OnLoad(JavaVM *vm, char *options, void *reserved);
}
