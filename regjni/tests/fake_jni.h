// A fake JNI environment with just the functions the bridge uses, for
// driving its exports without a JVM.
#pragma once
#include <jni.h>

#include <memory>
#include <string>
#include <vector>

struct FakeObject {
  enum Kind { String, Integer, Bytes, Win32Exception, Class } kind;
  std::u16string text;          // String; Class: its name
  int32_t number = 0;           // Integer; Win32Exception: code
  std::vector<jbyte> bytes;     // Bytes
  FakeObject *message = nullptr, *function = nullptr; // Win32Exception
};

struct FakeJni {
  FakeJni();
  JNIEnv *env() { return &env_; }
  jstring str(const std::u16string &s);
  // What is pending (null when nothing), and clearing it.
  FakeObject *pending = nullptr;
  int throws = 0;
  // Makes FindClass fail with a pending error of the JVM's own.
  bool failFindClass = false;
  std::vector<std::unique_ptr<FakeObject>> objects;

  FakeObject *make(FakeObject::Kind kind);

private:
  JNINativeInterface_ table_;
  JNIEnv env_;
};

FakeJni *fake_of(JNIEnv *env);
std::string to_narrow(const std::u16string &s);
