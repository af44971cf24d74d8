#include "heapdump.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

void hd_u8(HdWriter *w, uint32_t v) { w->bytes.push_back(static_cast<uint8_t>(v)); }
void hd_u16(HdWriter *w, uint32_t v) {
  hd_u8(w, v >> 8);
  hd_u8(w, v);
}
void hd_u32(HdWriter *w, uint32_t v) {
  hd_u16(w, v >> 16);
  hd_u16(w, v);
}
void hd_id(HdWriter *w, uint64_t v) {
  if (w->wide)
    hd_u32(w, static_cast<uint32_t>(v >> 32));
  hd_u32(w, static_cast<uint32_t>(v));
}

void hd_header(HdWriter *w, const HdHeader &h) {
  w->wide = h.wide;
  w->version = h.version;
  hd_u16(w, (h.wide ? 0x8000u : 0u) | (static_cast<uint32_t>(h.version) & 0x7fff));
  hd_u8(w, static_cast<uint32_t>(h.level));
  hd_u16(w, static_cast<uint32_t>(h.year - 1900));
  hd_u8(w, static_cast<uint32_t>(h.month - 1));
  for (int v : {h.day, h.hour, h.minute, h.second, h.mode_count, h.dump_number})
    hd_u8(w, static_cast<uint32_t>(v));
  for (uint64_t v : {h.tenured_start, h.tenured_end, h.perm_start, h.perm_end})
    hd_id(w, v);
}

void hd_root(HdWriter *w, int tag, uint64_t object, uint64_t other, uint32_t frame) {
  hd_u8(w, static_cast<uint32_t>(tag));
  hd_id(w, object);
  if (tag == HD_ROOT_JNI_GLOBAL || tag == HD_ROOT_JNI_LOCAL || tag == HD_ROOT_JAVA_FRAME ||
      tag == HD_ROOT_NATIVE_STACK || tag == HD_ROOT_THREAD_BLOCK)
    hd_id(w, other);
  if (tag == HD_ROOT_JNI_LOCAL || tag == HD_ROOT_JAVA_FRAME)
    hd_u32(w, frame);
}

void hd_dump_age(HdWriter *w, int age) {
  hd_u8(w, 0x11);
  hd_u8(w, static_cast<uint32_t>(age));
}

void hd_class(HdWriter *w, const HdClass &c) {
  hd_u8(w, 0x20);
  hd_u8(w, static_cast<uint32_t>(c.age));
  for (uint64_t v : {c.id, c.super, c.loader, c.signers, c.domain, c.name, c.source})
    hd_id(w, v);
  hd_u32(w, static_cast<uint32_t>(c.instance_size));
  if (w->version >= 2)
    hd_u32(w, c.class_size);
  hd_u32(w, static_cast<uint32_t>(c.fields.size()));
  for (const HdField &f : c.fields) {
    hd_id(w, f.signature);
    hd_id(w, f.name);
  }
  hd_u32(w, static_cast<uint32_t>(c.statics.size()));
  for (const HdStatic &s : c.statics) {
    hd_id(w, s.signature);
    hd_id(w, s.name);
    hd_u8(w, static_cast<uint32_t>(s.type));
    hd_id(w, s.value);
  }
}

void hd_instance(HdWriter *w, int age, uint64_t id, uint64_t klass, const std::vector<uint64_t> &values) {
  hd_u8(w, 0x21);
  hd_u8(w, static_cast<uint32_t>(age));
  hd_id(w, id);
  hd_id(w, klass);
  hd_u32(w, static_cast<uint32_t>(values.size()));
  for (uint64_t v : values) {
    hd_u8(w, 2); // an object reference
    hd_id(w, v);
  }
}

void hd_obj_array(HdWriter *w, int age, uint64_t id, uint64_t klass, const std::vector<uint64_t> &elements) {
  hd_u8(w, 0x22);
  hd_u8(w, static_cast<uint32_t>(age));
  hd_id(w, id);
  hd_id(w, klass);
  hd_u32(w, static_cast<uint32_t>(elements.size()));
  for (uint64_t e : elements)
    hd_id(w, e);
}

void hd_prim_array(HdWriter *w, int age, uint64_t id, uint64_t klass, int type, uint32_t length) {
  hd_u8(w, 0x23);
  hd_u8(w, static_cast<uint32_t>(age));
  hd_id(w, id);
  if (w->version >= 2)
    hd_id(w, klass);
  hd_u8(w, static_cast<uint32_t>(type));
  hd_u32(w, length);
}

void hd_name(HdWriter *w, uint64_t id, const std::string &text) {
  hd_u8(w, 0x24);
  hd_id(w, id);
  hd_u32(w, static_cast<uint32_t>(text.size()));
  w->bytes.insert(w->bytes.end(), text.begin(), text.end());
}

void hd_method(HdWriter *w, uint64_t id, uint64_t klass, uint64_t name) {
  hd_u8(w, 0x25);
  hd_id(w, id);
  hd_id(w, klass);
  hd_id(w, name);
}

void hd_class_sizes(HdWriter *w, const std::vector<HdClassSize> &sizes) {
  hd_u8(w, 0x26);
  hd_u32(w, static_cast<uint32_t>(sizes.size()));
  for (const HdClassSize &s : sizes) {
    hd_id(w, s.klass);
    hd_u32(w, s.count);
    hd_u32(w, s.words);
  }
}

void hd_call_trace(HdWriter *w, uint64_t env, const std::vector<HdFrame> &frames) {
  hd_u8(w, 0x30);
  hd_id(w, env);
  hd_u32(w, static_cast<uint32_t>(frames.size()));
  for (const HdFrame &f : frames) {
    hd_u32(w, f.line);
    hd_id(w, f.method);
  }
}

bool hd_save(const HdWriter &w, const std::string &path) {
  FILE *f = fopen(path.c_str(), "wb");
  if (!f)
    return false;
  bool ok = fwrite(w.bytes.data(), 1, w.bytes.size(), f) == w.bytes.size();
  return fclose(f) == 0 && ok;
}

// --- the text description ---

namespace {

struct Line {
  std::string kind;
  std::map<std::string, std::string> fields;
  std::vector<std::string> words; // those without '='
  std::string rest;               // the line after the kind, for name texts
};

bool fs_number(const std::string &s, uint64_t *out) {
  if (s.empty())
    return false;
  char *end = nullptr;
  *out = strtoull(s.c_str(), &end, 0);
  return *end == '\0';
}

std::vector<std::string> fs_split(const std::string &s, char sep) {
  std::vector<std::string> out;
  if (s.empty())
    return out;
  std::string cur;
  for (char c : s) {
    if (c == sep) {
      out.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  out.push_back(cur);
  return out;
}

struct Parser {
  const Line &l;
  std::string *error;
  bool ok = true;

  uint64_t num(const char *key, uint64_t deflt = 0) {
    auto it = l.fields.find(key);
    if (it == l.fields.end())
      return deflt;
    uint64_t v = 0;
    if (!fs_number(it->second, &v))
      fail(std::string("bad number for ") + key);
    return v;
  }
  // A list of items, each of parts numbers separated by ':'.
  std::vector<std::vector<uint64_t>> list(const char *key, size_t parts) {
    std::vector<std::vector<uint64_t>> out;
    auto it = l.fields.find(key);
    if (it == l.fields.end())
      return out;
    for (const std::string &item : fs_split(it->second, ',')) {
      std::vector<std::string> p = fs_split(item, ':');
      std::vector<uint64_t> v(parts);
      if (p.size() != parts) {
        fail(std::string("bad item in ") + key);
        return out;
      }
      for (size_t i = 0; i < parts; ++i)
        if (!fs_number(p[i], &v[i]))
          fail(std::string("bad number in ") + key);
      out.push_back(v);
    }
    return out;
  }
  std::vector<uint64_t> ids(const char *key) {
    std::vector<uint64_t> out;
    for (auto &v : list(key, 1))
      out.push_back(v[0]);
    return out;
  }
  void fail(const std::string &what) {
    if (ok)
      *error = what;
    ok = false;
  }
};

bool fs_parseLine(const std::string &raw, Line *l) {
  std::string s = raw;
  size_t hash = s.find('#');
  if (hash != std::string::npos && s.compare(0, 4, "name") != 0)
    s.resize(hash);
  std::istringstream in(s);
  if (!(in >> l->kind))
    return false;
  size_t after = s.find(l->kind) + l->kind.size();
  l->rest = s.substr(after);
  std::string word;
  while (in >> word) {
    size_t eq = word.find('=');
    if (eq == std::string::npos)
      l->words.push_back(word);
    else
      l->fields[word.substr(0, eq)] = word.substr(eq + 1);
  }
  return true;
}

const std::map<std::string, int> fs_rootKinds = {
    {"jni_global", HD_ROOT_JNI_GLOBAL},     {"jni_local", HD_ROOT_JNI_LOCAL},
    {"java_frame", HD_ROOT_JAVA_FRAME},     {"native_stack", HD_ROOT_NATIVE_STACK},
    {"sticky_class", HD_ROOT_STICKY_CLASS}, {"thread_block", HD_ROOT_THREAD_BLOCK},
    {"monitor_used", HD_ROOT_MONITOR_USED},
};

bool fs_header(Parser &p, const Line &l, HdWriter *w) {
  HdHeader h;
  uint64_t bits = p.num("bits", 32);
  if (bits != 32 && bits != 64)
    p.fail("bits must be 32 or 64");
  h.wide = bits == 64;
  h.version = static_cast<int>(p.num("version", 2));
  h.level = static_cast<int>(p.num("level", 0));
  h.mode_count = static_cast<int>(p.num("mode", 1));
  h.dump_number = static_cast<int>(p.num("num", 1));
  auto t = l.fields.find("time");
  if (t != l.fields.end() && sscanf(t->second.c_str(), "%d-%d-%dT%d:%d:%d", &h.year, &h.month, &h.day, &h.hour,
                                    &h.minute, &h.second) != 6)
    p.fail("bad time");
  for (const char *key : {"tenured", "perm"}) {
    auto it = l.fields.find(key);
    if (it == l.fields.end())
      continue;
    std::vector<std::string> r = fs_split(it->second, '-');
    uint64_t a = 0, b = 0;
    if (r.size() != 2 || !fs_number(r[0], &a) || !fs_number(r[1], &b))
      p.fail(std::string("bad range for ") + key);
    (key[0] == 't' ? h.tenured_start : h.perm_start) = a;
    (key[0] == 't' ? h.tenured_end : h.perm_end) = b;
  }
  if (p.ok)
    hd_header(w, h);
  return p.ok;
}

bool fs_record(Parser &p, const Line &l, HdWriter *w) {
  const std::string &k = l.kind;
  int age = static_cast<int>(p.num("age"));
  if (k == "age") {
    uint64_t v = 0;
    if (l.words.size() != 1 || !fs_number(l.words[0], &v))
      p.fail("bad age");
    if (p.ok)
      hd_dump_age(w, static_cast<int>(v));
  } else if (k == "name") {
    size_t at = l.rest.find("text=");
    if (at == std::string::npos)
      p.fail("name without text");
    uint64_t id = p.num("id");
    if (p.ok)
      hd_name(w, id, l.rest.substr(at + 5));
  } else if (k == "class") {
    HdClass c;
    c.age = age;
    c.id = p.num("id");
    c.super = p.num("super");
    c.loader = p.num("loader");
    c.signers = p.num("signers");
    c.domain = p.num("domain");
    c.name = p.num("name");
    c.source = p.num("source");
    c.instance_size = static_cast<int32_t>(p.num("isize"));
    c.class_size = static_cast<uint32_t>(p.num("ksize"));
    for (auto &f : p.list("fields", 2))
      c.fields.push_back({f[0], f[1]});
    for (auto &s : p.list("statics", 4))
      c.statics.push_back({s[0], s[1], static_cast<int>(s[2]), s[3]});
    if (p.ok)
      hd_class(w, c);
  } else if (k == "instance") {
    uint64_t id = p.num("id"), cls = p.num("class");
    std::vector<uint64_t> v = p.ids("values");
    if (p.ok)
      hd_instance(w, age, id, cls, v);
  } else if (k == "objarray") {
    uint64_t id = p.num("id"), cls = p.num("class");
    std::vector<uint64_t> e = p.ids("elements");
    if (p.ok)
      hd_obj_array(w, age, id, cls, e);
  } else if (k == "primarray") {
    uint64_t id = p.num("id"), cls = p.num("class"), type = p.num("type", 10), len = p.num("length");
    if (p.ok)
      hd_prim_array(w, age, id, cls, static_cast<int>(type), static_cast<uint32_t>(len));
  } else if (k == "root") {
    auto it = l.fields.find("kind");
    auto kind = it == l.fields.end() ? fs_rootKinds.end() : fs_rootKinds.find(it->second);
    if (kind == fs_rootKinds.end())
      p.fail("unknown root kind");
    uint64_t obj = p.num("obj"), other = p.num("other"), frame = p.num("frame");
    if (p.ok)
      hd_root(w, kind->second, obj, other, static_cast<uint32_t>(frame));
  } else if (k == "method") {
    uint64_t id = p.num("id"), cls = p.num("class"), name = p.num("name");
    if (p.ok)
      hd_method(w, id, cls, name);
  } else if (k == "sizes") {
    std::vector<HdClassSize> s;
    for (auto &v : p.list("list", 3))
      s.push_back({v[0], static_cast<uint32_t>(v[1]), static_cast<uint32_t>(v[2])});
    if (p.ok)
      hd_class_sizes(w, s);
  } else if (k == "trace") {
    uint64_t env = p.num("env");
    std::vector<HdFrame> f;
    for (auto &v : p.list("frames", 2))
      f.push_back({static_cast<uint32_t>(v[0]), v[1]});
    if (p.ok)
      hd_call_trace(w, env, f);
  } else if (k == "raw") {
    for (uint64_t b : p.ids("bytes"))
      hd_u8(w, static_cast<uint32_t>(b));
  } else {
    p.fail("unknown record " + k);
  }
  return p.ok;
}

} // namespace

bool hd_from_text(const std::string &text, HdWriter *out, std::string *error) {
  HdWriter w;
  std::istringstream in(text);
  std::string raw;
  int number = 0;
  bool seenHeader = false;
  while (std::getline(in, raw)) {
    ++number;
    Line l;
    if (!fs_parseLine(raw, &l))
      continue;
    Parser p{l, error};
    bool ok;
    if (l.kind == "header") {
      ok = !seenHeader && fs_header(p, l, &w);
      if (seenHeader)
        *error = "a second header";
      seenHeader = true;
    } else if (!seenHeader) {
      *error = "the first record must be the header";
      ok = false;
    } else {
      ok = fs_record(p, l, &w);
    }
    if (!ok) {
      *error = "line " + std::to_string(number) + ": " + *error;
      return false;
    }
  }
  if (!seenHeader) {
    *error = "no header";
    return false;
  }
  *out = w;
  return true;
}

// --- synthetic heaps ---

void hd_synthetic(const HdSynthetic &s, HdWriter *w) {
  HdHeader h;
  h.wide = s.wide;
  h.dump_number = s.dump_number;
  h.level = s.level;
  h.second = s.dump_number % 60;
  h.tenured_start = 0x10000000;
  h.tenured_end = 0x80000000;
  h.perm_start = 0x08000000;
  h.perm_end = 0x10000000;
  hd_header(w, h);
  hd_dump_age(w, s.dump_number > 0 ? s.dump_number : 1);
  const uint64_t nameBase = 0x01000000, classBase = 0x08000000, objBase = 0x10000000;
  uint32_t classes = s.classes ? s.classes : 1;
  for (uint32_t c = 0; c < classes; ++c) {
    hd_name(w, nameBase + c, "synthetic.Class" + std::to_string(c));
    hd_name(w, nameBase + classes + c, "ref" + std::to_string(c));
  }
  for (uint32_t c = 0; c < classes; ++c) {
    HdClass k;
    k.age = 0;
    k.id = classBase + c * 8;
    k.super = c ? classBase : 0;
    k.name = nameBase + c;
    k.instance_size = 2 + static_cast<int32_t>(s.fanout);
    k.class_size = 12;
    for (uint32_t f = 0; f < s.fanout; ++f)
      k.fields.push_back({nameBase, nameBase + classes + (f % classes)});
    hd_class(w, k);
  }
  // A small linear generator: the same seed gives the same heap.
  uint64_t x = s.seed ? s.seed : 1;
  auto next = [&x]() {
    x = x * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<uint32_t>(x >> 33);
  };
  uint32_t growing = s.growing_classes < classes ? s.growing_classes : classes;
  uint32_t extra = growing * s.growth * static_cast<uint32_t>(s.dump_number > 0 ? s.dump_number - 1 : 0);
  uint32_t total = s.objects + extra;
  std::vector<uint64_t> values(s.fanout);
  std::vector<uint32_t> counts(classes, 0);
  for (uint32_t i = 0; i < total; ++i) {
    uint32_t c = i < s.objects ? next() % classes : (i - s.objects) % growing;
    ++counts[c];
    for (uint32_t f = 0; f < s.fanout; ++f) {
      if (i == 0) {
        values[f] = 0;
      } else if (s.cycle_every && i % s.cycle_every == 0 && f == 0 && i + 1 < total) {
        values[f] = objBase + (i + 1) * 16ULL; // a forward reference closes a cycle
      } else {
        values[f] = objBase + (next() % i) * 16ULL;
      }
    }
    // The base population is as old as the first dump; what grew since
    // carries the age of its dump.
    int age = i < s.objects ? 1 : s.dump_number;
    hd_instance(w, age, objBase + i * 16ULL, classBase + c * 8, values);
  }
  std::vector<HdClassSize> sizes;
  for (uint32_t c = 0; c < classes; ++c)
    sizes.push_back({classBase + c * 8, counts[c], counts[c] * (2 + s.fanout)});
  hd_class_sizes(w, sizes);
  hd_root(w, HD_ROOT_STICKY_CLASS, classBase);
  hd_root(w, HD_ROOT_JNI_GLOBAL, objBase, 0x42);
  // The growth hangs off one array held by a root: a leaking list.
  if (total > s.objects) {
    std::vector<uint64_t> grown;
    for (uint32_t i = s.objects; i < total; ++i)
      grown.push_back(objBase + i * 16ULL);
    hd_obj_array(w, s.dump_number, objBase + total * 16ULL, classBase, grown);
    hd_root(w, HD_ROOT_JNI_GLOBAL, objBase + total * 16ULL, 0x43);
  }
}
