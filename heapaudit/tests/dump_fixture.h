// Dumps written from text descriptions and read into a dump set.
#pragma once
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "classSizeInfo.h"
#include "heapDumpData.h"
#include "heapdump.h"
#include "testkit.h"
#include "utils.h"

struct DumpFixture : ::testing::Test {
  TkScratch s;
  std::vector<std::string> files;
  std::vector<const char *> names;
  std::unique_ptr<HeapDumpDataSet> set;

  void SetUp() override {
    word_size = 4;
    id_size = 4;
    hex_width = 8;
    Utils::silence_level = -1;
    Utils::verbose = false;
  }
  // Reads the dumps the descriptions give, oldest first.
  HeapDumpData *read(const std::vector<std::string> &texts, int detect_kind = 0) {
    files.clear();
    names.clear();
    for (size_t i = 0; i < texts.size(); ++i) {
      HdWriter w;
      std::string err;
      EXPECT_TRUE(hd_from_text(texts[i], &w, &err)) << err;
      files.push_back(s.path("d" + std::to_string(i)));
      EXPECT_TRUE(hd_save(w, files.back()));
    }
    for (const std::string &f : files)
      names.push_back(f.c_str());
    set.reset(new HeapDumpDataSet(static_cast<int>(texts.size())));
    ReadOptions ro;
    ro.detect_kind = detect_kind;
    for (int i = 0; i < static_cast<int>(texts.size()); ++i) {
      read_dump(set.get(), i, names, ro);
      HeapDumpData *d = set->data[static_cast<size_t>(i)].get();
      set->class_size_info[static_cast<size_t>(i)] =
          d->format == 1 ? ClassSizeInfo::build_by_walking(d, false, false) : ClassSizeInfo::build_from_records(d, false);
    }
    return set->data.back().get();
  }
  static std::vector<uint32_t> order(HeapDumpData *d) {
    std::vector<uint32_t> out;
    d->for_each_object([&](EntryBase *e) { out.push_back(e->serial); });
    return out;
  }
};

