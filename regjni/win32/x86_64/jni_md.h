/* The machine-dependent part of jni.h for 32- and 64-bit Windows with
   mingw-w64: standard-call exports, 32-bit jint. */
#ifndef TOVX_JNI_MD_H
#define TOVX_JNI_MD_H

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef long long jlong;
typedef signed char jbyte;

#endif
