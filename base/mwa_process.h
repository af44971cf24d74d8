// A child process (the agent's, for the daemon), the Windows command line
// built from an argument list, and the process list.
#pragma once
#include <cstddef>
#include <cstdint>

#include "mwa_array.h"
#include "mwa_error.h"
#include "platform/proc.h"

struct MwaProcess {
  PlProcInfo pi;
  uint32_t exitCode;
};

MwaProcess *MwaProcess_new(MwaErrorInfo *pErrorInfo);
void MwaProcess_free(MwaProcess *process);
// Starts args (null-terminated; args[0] the program). 1 or 0.
int MwaProcess_start(MwaProcess *process, const char *const *args, MwaErrorInfo *pErrorInfo);
int MwaProcess_isRunning(MwaProcess *process, MwaErrorInfo *pErrorInfo);
int MwaProcess_waitEnd(MwaProcess *process, MwaErrorInfo *pErrorInfo);
int MwaProcess_terminate(MwaProcess *process, MwaErrorInfo *pErrorInfo);
// Ends every descendant of the child, deepest first, then the child.
int MwaProcess_killTree(MwaProcess *process, MwaErrorInfo *pErrorInfo);

// Writes arg (length bytes) quoted by the rules Windows programs split
// their command line with into out (room for 2 * length + 3). Returns
// the produced length.
size_t mwa_quoteArg(const char *arg, size_t length, char *out);
// The command line for args: each quoted, separated by one blank. Null
// with the record set ("malloc", -1) when memory is short; free() it.
char *mwa_buildCommandLine(const char *const *args, MwaErrorInfo *pErrorInfo);

struct MwaProcessEntry {
  uint32_t pid;
  uint32_t ppid;
};
MWA_TYPED_ARRAY(ProcessEntryArray, MwaProcessEntry)

// Fills the array with every process of the system. 1, or 0 with the
// record set (error 0: the system offers no process list).
int mwa_listProcesses(ProcessEntryArray *list, MwaErrorInfo *pErrorInfo);
// Ends the descendants of pid found in list, children before their
// parents; pid itself is not ended. Ids met twice (reused ids can make a
// cycle) are passed over.
void mwa_killDescendants(ProcessEntryArray *list, uint32_t pid);
