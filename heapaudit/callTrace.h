// The call trace report of a dump.
#pragma once
class HeapDumpData;
void write_call_traces(HeapDumpData *dump);
