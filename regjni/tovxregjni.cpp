// tovxregjni: read access to the registry for the Java agent, through the
// seven native methods of its Win32NativeUtil class. Keys travel as Java
// ints; failures become Win32Exception. No state of its own.
#include <jni.h>

#include <cstdlib>
#include <cstring>

#include "platform/registry.h"

#define TOVX_JNI(name) Java_com_Zentrak_soft_Voxhelm_QRN_agent4_am_cnf_Win32NativeUtil_##name

namespace {

const char kExceptionClass[] = "com/Zentrak/soft/Voxhelm/QRN/agent4/am/cnf/Win32Exception";
const int kNotEnoughMemory = 8; // ERROR_NOT_ENOUGH_MEMORY

// Makes a Java string of narrow text (ASCII: function names, messages).
jstring fs_string(JNIEnv *env, const char *text) {
  if (!text)
    return nullptr;
  size_t n = strlen(text);
  jchar *w = static_cast<jchar *>(malloc((n + 1) * sizeof(jchar)));
  if (!w)
    return nullptr;
  for (size_t i = 0; i < n; ++i)
    w[i] = static_cast<unsigned char>(text[i]);
  jstring s = env->NewString(w, static_cast<jsize>(n));
  free(w);
  return s;
}

// Throws Win32Exception(message, function, code). Whatever goes wrong
// inside the JVM leaves its own exception pending instead.
void fs_throw(JNIEnv *env, const char *message, const char *function, int code) {
  jclass cls = env->FindClass(kExceptionClass);
  if (env->ExceptionOccurred() || !cls)
    return;
  jmethodID ctor = env->GetMethodID(cls, "<init>", "(Ljava/lang/String;Ljava/lang/String;I)V");
  if (env->ExceptionOccurred() || !ctor)
    return;
  jstring jmsg = fs_string(env, message);
  if (env->ExceptionOccurred())
    return;
  jstring jfn = fs_string(env, function);
  if (env->ExceptionOccurred())
    return;
  // NewObject itself (the C++ wrapper would go through NewObjectV).
  jobject ex = env->functions->NewObject(env, cls, ctor, jmsg, jfn, static_cast<jint>(code));
  if (env->ExceptionOccurred() || !ex)
    return;
  env->Throw(static_cast<jthrowable>(ex));
}

void fs_throwSystem(JNIEnv *env, const char *function, int code) {
  char text[1024];
  fs_throw(env, pl_reg_error_text(code, text, sizeof text) ? text : nullptr, function, code);
}

// The characters of a Java string, terminated: JNI does not promise a
// terminator, and the registry calls need one. Null for a null string.
struct Chars {
  char16_t *text;
  bool failed;
};

Chars fs_chars(JNIEnv *env, jstring s) {
  Chars c = {nullptr, false};
  if (!s)
    return c;
  jsize n = env->GetStringLength(s);
  const jchar *raw = env->GetStringChars(s, nullptr);
  if (env->ExceptionOccurred() || !raw) {
    if (raw)
      env->ReleaseStringChars(s, raw);
    c.failed = true;
    return c;
  }
  c.text = static_cast<char16_t *>(malloc((static_cast<size_t>(n) + 1) * sizeof(char16_t)));
  if (c.text) {
    memcpy(c.text, raw, static_cast<size_t>(n) * sizeof(char16_t));
    c.text[n] = 0;
  }
  env->ReleaseStringChars(s, raw);
  if (!c.text) {
    fs_throwSystem(env, "LocalAlloc", kNotEnoughMemory);
    c.failed = true;
  }
  return c;
}

PlHkey fs_key(jint key) { return pl_reg_handle_from_id(static_cast<int32_t>(key)); }

jint fs_count(JNIEnv *env, jint key, bool subkeys) {
  PlRegInfo info;
  int rc = pl_reg_query_info_w(fs_key(key), &info);
  if (rc) {
    fs_throwSystem(env, "RegQueryInfoKey", rc);
    return 0;
  }
  return static_cast<jint>(subkeys ? info.subkeys : info.values);
}

jstring fs_nameAt(JNIEnv *env, jint key, jint index, bool subkey) {
  PlRegInfo info;
  int rc = pl_reg_query_info_w(fs_key(key), &info);
  if (rc) {
    fs_throwSystem(env, "RegQueryInfoKey", rc);
    return nullptr;
  }
  uint32_t room = (subkey ? info.max_subkey_len : info.max_value_name_len) + 1;
  char16_t *name = static_cast<char16_t *>(malloc(room * sizeof(char16_t)));
  if (!name) {
    fs_throwSystem(env, "LocalAlloc", kNotEnoughMemory);
    return nullptr;
  }
  uint32_t len = room;
  rc = subkey ? pl_reg_enum_key_w(fs_key(key), static_cast<uint32_t>(index), name, &len)
              : pl_reg_enum_value_w(fs_key(key), static_cast<uint32_t>(index), name, &len, nullptr,
                                    nullptr, nullptr);
  jstring result = nullptr;
  if (rc)
    fs_throwSystem(env, subkey ? "RegEnumKeyEx" : "RegEnumValue", rc);
  else
    result = env->NewString(reinterpret_cast<const jchar *>(name), static_cast<jsize>(len));
  free(name);
  return result;
}

} // namespace

extern "C" {

JNIEXPORT jint JNICALL TOVX_JNI(regOpenKey)(JNIEnv *env, jobject, jint key, jstring subKey) {
  Chars sub = fs_chars(env, subKey);
  if (sub.failed)
    return 0;
  PlHkey opened;
  int rc = pl_reg_open_w(fs_key(key), sub.text, PL_REG_READ, &opened);
  jint result = 0;
  if (rc)
    fs_throwSystem(env, "RegOpenKeyEx", rc);
  else
    result = static_cast<jint>(pl_reg_handle_id(opened));
  free(sub.text);
  return result;
}

JNIEXPORT void JNICALL TOVX_JNI(regCloseKey)(JNIEnv *env, jobject, jint key) {
  int rc = pl_reg_close(fs_key(key));
  if (rc)
    fs_throwSystem(env, "RegCloseKey", rc);
}

JNIEXPORT jint JNICALL TOVX_JNI(getSubKeyCount)(JNIEnv *env, jobject, jint key) {
  return fs_count(env, key, true);
}

JNIEXPORT jstring JNICALL TOVX_JNI(getSubKeyNameAt)(JNIEnv *env, jobject, jint key, jint index) {
  return fs_nameAt(env, key, index, true);
}

JNIEXPORT jint JNICALL TOVX_JNI(getValueCount)(JNIEnv *env, jobject, jint key) {
  return fs_count(env, key, false);
}

JNIEXPORT jstring JNICALL TOVX_JNI(getValueNameAt)(JNIEnv *env, jobject, jint key, jint index) {
  return fs_nameAt(env, key, index, false);
}

JNIEXPORT jobject JNICALL TOVX_JNI(getValue)(JNIEnv *env, jobject, jint key, jstring valueName) {
  Chars name = fs_chars(env, valueName);
  if (name.failed)
    return nullptr;
  jobject result = nullptr;
  uint32_t size = 0, type = 0;
  int rc = pl_reg_query_value_w(fs_key(key), name.text, nullptr, nullptr, &size);
  unsigned char *data = nullptr;
  if (rc) {
    fs_throwSystem(env, "RegQueryValueEx", rc);
  } else if (!(data = static_cast<unsigned char *>(malloc(size + 1)))) {
    fs_throwSystem(env, "LocalAlloc", kNotEnoughMemory);
  } else if ((rc = pl_reg_query_value_w(fs_key(key), name.text, &type, data, &size)) != 0) {
    fs_throwSystem(env, "RegQueryValueEx", rc);
  } else if (type == PL_REG_SZ) {
    size_t units = size / sizeof(char16_t), n = 0;
    const jchar *text = reinterpret_cast<const jchar *>(data);
    jchar unit;
    while (n < units && (memcpy(&unit, data + n * sizeof(jchar), sizeof unit), unit != 0))
      ++n;
    result = env->NewString(text, static_cast<jsize>(n));
  } else if (type == PL_REG_DWORD) {
    // Little-endian; a value shorter than four bytes reads as if padded
    // with zeros rather than past its end.
    uint32_t v = 0;
    for (uint32_t i = 0; i < 4 && i < size; ++i)
      v |= static_cast<uint32_t>(data[i]) << (8 * i);
    jclass cls = env->FindClass("java/lang/Integer");
    jmethodID ctor = cls && !env->ExceptionOccurred() ? env->GetMethodID(cls, "<init>", "(I)V") : nullptr;
    if (ctor && !env->ExceptionOccurred())
      result = env->functions->NewObject(env, cls, ctor, static_cast<jint>(static_cast<int32_t>(v)));
  } else if (type == PL_REG_BINARY) {
    jbyteArray bytes = env->NewByteArray(static_cast<jsize>(size));
    if (bytes && !env->ExceptionOccurred()) {
      env->SetByteArrayRegion(bytes, 0, static_cast<jsize>(size), reinterpret_cast<const jbyte *>(data));
      if (!env->ExceptionOccurred())
        result = bytes;
    }
  } else {
    fs_throw(env, "The type of the value is unknown.", nullptr, 0);
  }
  free(data);
  free(name.text);
  return result;
}

} // extern "C"
