/* The machine-dependent part of jni.h for 32- and 64-bit Windows with
   mingw-w64: standard-call exports, 32-bit jint. */
#ifndef TOVX_JNI_MD_H
#define TOVX_JNI_MD_H

/* Exports come from tovxregjni_i686.def, under the decorated names only. */
#define JNIEXPORT
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef long long jlong;
typedef signed char jbyte;

#endif
