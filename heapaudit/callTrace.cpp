#include "callTrace.h"

#include "heapDumpData.h"
#include "utils.h"

void write_call_traces(HeapDumpData *d) {
  FILE *out = Utils::open_resultfile();
  Utils::output2file(out, "\n****** CallTrace Information (%d) ******\n", d->dump_num);
  for (const CallTraceEntry *e : d->call_trace_order()) {
    Utils::output2file(out, "\n--------------------------------\n");
    Utils::output2file(out, "JNIEnv *:%0*x  Num Frames:%d\n", hex_width, e->env_id, e->frame_count);
    for (int32_t i = 0; i < e->frame_count; ++i) {
      const CallFrame &f = e->frames[i];
      const char *method = nullptr, *klass = nullptr;
      auto it = d->methods.find(f.method_id);
      if (it != d->methods.end()) {
        method = it->second->name_id ? d->name_of(it->second->name_id) : nullptr;
        EntryBase *k = d->find(it->second->klass);
        klass = k ? d->class_name(k) : nullptr;
      }
      Utils::output2file(out, "  [%2d] method id:%0*x lineno:%d (Method:%s Class:%s)\n", i, hex_width, f.method_id,
                         f.line, method ? method : "(null)", klass ? klass : "(null)");
    }
    Utils::output2file(out, "--------------------------------\n");
  }
  Utils::close_resultfile(out);
}
