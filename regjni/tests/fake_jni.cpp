#include "fake_jni.h"

#include <cstdarg>
#include <cstring>

namespace {

FakeObject *fs_obj(jobject o) { return reinterpret_cast<FakeObject *>(o); }

const jmethodID kExceptionCtor = reinterpret_cast<jmethodID>(1);
const jmethodID kIntegerCtor = reinterpret_cast<jmethodID>(2);

jclass JNICALL fs_FindClass(JNIEnv *env, const char *name) {
  FakeJni *f = fake_of(env);
  if (f->failFindClass) {
    f->pending = f->make(FakeObject::Class); // stands for NoClassDefFoundError
    return nullptr;
  }
  FakeObject *c = f->make(FakeObject::Class);
  for (const char *p = name; *p; ++p)
    c->text += static_cast<char16_t>(*p);
  return reinterpret_cast<jclass>(c);
}

jmethodID JNICALL fs_GetMethodID(JNIEnv *, jclass cls, const char *name, const char *sig) {
  std::string c = to_narrow(fs_obj(cls)->text);
  if (strcmp(name, "<init>") != 0)
    return nullptr;
  if (c == "com/Zentrak/soft/Voxhelm/QRN/agent4/am/cnf/Win32Exception" &&
      strcmp(sig, "(Ljava/lang/String;Ljava/lang/String;I)V") == 0)
    return kExceptionCtor;
  if (c == "java/lang/Integer" && strcmp(sig, "(I)V") == 0)
    return kIntegerCtor;
  return nullptr;
}

jobject JNICALL fs_NewObject(JNIEnv *env, jclass, jmethodID ctor, ...) {
  FakeJni *f = fake_of(env);
  va_list ap;
  va_start(ap, ctor);
  FakeObject *o = nullptr;
  if (ctor == kExceptionCtor) {
    o = f->make(FakeObject::Win32Exception);
    o->message = fs_obj(va_arg(ap, jobject));
    o->function = fs_obj(va_arg(ap, jobject));
    o->number = va_arg(ap, jint);
  } else if (ctor == kIntegerCtor) {
    o = f->make(FakeObject::Integer);
    o->number = va_arg(ap, jint);
  }
  va_end(ap);
  return reinterpret_cast<jobject>(o);
}

jint JNICALL fs_Throw(JNIEnv *env, jthrowable t) {
  FakeJni *f = fake_of(env);
  f->pending = fs_obj(t);
  ++f->throws;
  return 0;
}

jthrowable JNICALL fs_ExceptionOccurred(JNIEnv *env) {
  return reinterpret_cast<jthrowable>(fake_of(env)->pending);
}

jstring JNICALL fs_NewString(JNIEnv *env, const jchar *chars, jsize len) {
  FakeObject *o = fake_of(env)->make(FakeObject::String);
  o->text.assign(reinterpret_cast<const char16_t *>(chars), static_cast<size_t>(len));
  return reinterpret_cast<jstring>(o);
}

jsize JNICALL fs_GetStringLength(JNIEnv *, jstring s) { return static_cast<jsize>(fs_obj(s)->text.size()); }

// Hands out the characters without a terminator, as JNI allows.
const jchar *JNICALL fs_GetStringChars(JNIEnv *, jstring s, jboolean *isCopy) {
  if (isCopy)
    *isCopy = JNI_TRUE;
  const std::u16string &t = fs_obj(s)->text;
  jchar *copy = new jchar[t.size() + 1];
  memcpy(copy, t.data(), t.size() * sizeof(jchar));
  copy[t.size()] = 0x4141; // not a terminator
  return copy;
}

void JNICALL fs_ReleaseStringChars(JNIEnv *, jstring, const jchar *chars) { delete[] chars; }

jbyteArray JNICALL fs_NewByteArray(JNIEnv *env, jsize len) {
  FakeObject *o = fake_of(env)->make(FakeObject::Bytes);
  o->bytes.resize(static_cast<size_t>(len));
  return reinterpret_cast<jbyteArray>(o);
}

void JNICALL fs_SetByteArrayRegion(JNIEnv *, jbyteArray a, jsize start, jsize len, const jbyte *buf) {
  memcpy(fs_obj(a)->bytes.data() + start, buf, static_cast<size_t>(len));
}

} // namespace

FakeJni::FakeJni() {
  memset(&table_, 0, sizeof table_);
  table_.reserved0 = this;
  table_.FindClass = fs_FindClass;
  table_.GetMethodID = fs_GetMethodID;
  table_.NewObject = fs_NewObject;
  table_.Throw = fs_Throw;
  table_.ExceptionOccurred = fs_ExceptionOccurred;
  table_.NewString = fs_NewString;
  table_.GetStringLength = fs_GetStringLength;
  table_.GetStringChars = fs_GetStringChars;
  table_.ReleaseStringChars = fs_ReleaseStringChars;
  table_.NewByteArray = fs_NewByteArray;
  table_.SetByteArrayRegion = fs_SetByteArrayRegion;
  env_.functions = &table_;
}

FakeJni *fake_of(JNIEnv *env) { return static_cast<FakeJni *>(env->functions->reserved0); }

FakeObject *FakeJni::make(FakeObject::Kind kind) {
  objects.push_back(std::make_unique<FakeObject>());
  objects.back()->kind = kind;
  return objects.back().get();
}

jstring FakeJni::str(const std::u16string &s) {
  FakeObject *o = make(FakeObject::String);
  o->text = s;
  return reinterpret_cast<jstring>(o);
}

std::string to_narrow(const std::u16string &s) {
  std::string out;
  for (char16_t c : s)
    out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}
