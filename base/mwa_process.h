// A child process: the agent's, for the daemon.
#pragma once
#include "mwa_error.h"

struct MwaProcess;

MwaProcess *MwaProcess_new(MwaErrorInfo *pErrorInfo);
void MwaProcess_free(MwaProcess *self);
// 1 while a started process runs, else 0 (also before any start).
int MwaProcess_isRunning(MwaProcess *self, MwaErrorInfo *pErrorInfo);
