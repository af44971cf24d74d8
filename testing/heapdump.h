// Writes heap dump files in the analyzer's format, for test fixtures and
// benchmarks: record by record, or from a readable text description.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct HdWriter {
  std::vector<uint8_t> bytes;
  bool wide = false; // 64-bit data: 8-byte ids
  int version = 2;
};

struct HdHeader {
  bool wide = false;
  int version = 2;
  int level = 0; // 3: summary type dump
  int year = 2009, month = 4, day = 20, hour = 1, minute = 20, second = 29;
  int mode_count = 1;
  int dump_number = 1;
  uint64_t tenured_start = 0, tenured_end = 0, perm_start = 0, perm_end = 0;
};

struct HdField {
  uint64_t signature, name;
};
struct HdStatic {
  uint64_t signature, name;
  int type;
  uint64_t value;
};
struct HdClass {
  int age = 0;
  uint64_t id = 0, super = 0, loader = 0, signers = 0, domain = 0, name = 0, source = 0;
  int32_t instance_size = 0; // bytes in version 1, words later
  uint32_t class_size = 0;   // words; written from version 2 on
  std::vector<HdField> fields;
  std::vector<HdStatic> statics;
};
struct HdClassSize {
  uint64_t klass;
  uint32_t count, words;
};
struct HdFrame {
  uint32_t line;
  uint64_t method;
};

// Root record tags.
enum {
  HD_ROOT_JNI_GLOBAL = 0x01,
  HD_ROOT_JNI_LOCAL = 0x02,
  HD_ROOT_JAVA_FRAME = 0x03,
  HD_ROOT_NATIVE_STACK = 0x04,
  HD_ROOT_STICKY_CLASS = 0x05,
  HD_ROOT_THREAD_BLOCK = 0x06,
  HD_ROOT_MONITOR_USED = 0x07,
};

void hd_header(HdWriter *w, const HdHeader &h);
void hd_u8(HdWriter *w, uint32_t v);
void hd_u16(HdWriter *w, uint32_t v);
void hd_u32(HdWriter *w, uint32_t v);
void hd_id(HdWriter *w, uint64_t v);
// A root: the fields its tag takes (a second id, a frame number).
void hd_root(HdWriter *w, int tag, uint64_t object, uint64_t other = 0, uint32_t frame = 0);
void hd_dump_age(HdWriter *w, int age);
void hd_class(HdWriter *w, const HdClass &c);
void hd_instance(HdWriter *w, int age, uint64_t id, uint64_t klass, const std::vector<uint64_t> &values);
void hd_obj_array(HdWriter *w, int age, uint64_t id, uint64_t klass, const std::vector<uint64_t> &elements);
// The class id is written from version 2 on.
void hd_prim_array(HdWriter *w, int age, uint64_t id, uint64_t klass, int type, uint32_t length);
void hd_name(HdWriter *w, uint64_t id, const std::string &text);
void hd_method(HdWriter *w, uint64_t id, uint64_t klass, uint64_t name);
void hd_class_sizes(HdWriter *w, const std::vector<HdClassSize> &sizes);
void hd_call_trace(HdWriter *w, uint64_t env, const std::vector<HdFrame> &frames);
bool hd_save(const HdWriter &w, const std::string &path);

// Writes the dump a text description gives; on a bad line, *error names
// it and nothing is written. One record a line, fields as key=value, ids
// and numbers in C notation (0x10, 16), lists comma-separated, '#' starts
// a comment:
//   header bits=32|64 version=V level=L time=YYYY-MM-DDThh:mm:ss mode=N
//          num=N tenured=START-END perm=START-END        (first line)
//   age 3                                      (the dump's current age)
//   name id=0x10 text=java.util.HashMap        (text: rest of the line)
//   class age= id= super= loader= signers= domain= name= source= isize=
//         ksize= fields=SIG:NAME,... statics=SIG:NAME:TYPE:VALUE,...
//   instance age= id= class= values=V,...
//   objarray age= id= class= elements=E,...
//   primarray age= id= class= type= length=
//   root kind=jni_global|jni_local|java_frame|native_stack|sticky_class|
//        thread_block|monitor_used obj= other= frame=
//   method id= class= name=
//   sizes list=CLASS:COUNT:WORDS,...
//   trace env= frames=LINE:METHOD,...
//   raw bytes=0x..,...                          (anything, for bad files)
bool hd_from_text(const std::string &text, HdWriter *w, std::string *error);

// A synthetic heap for benchmarks: objects instances spread over classes
// classes, each holding fanout references to earlier objects (so the heap
// is a graph with some cycles through back references every cycle_every
// objects), with growing_classes classes whose instance count grows by
// growth from one dump number to the next.
struct HdSynthetic {
  uint32_t objects = 1000;
  uint32_t classes = 100;
  uint32_t fanout = 4;
  uint32_t cycle_every = 50;
  uint32_t growing_classes = 3;
  uint32_t growth = 100;
  int dump_number = 1;
  bool wide = false;
  uint32_t seed = 1;
  int level = 0; // 3: a summary type dump
};
void hd_synthetic(const HdSynthetic &s, HdWriter *w);
