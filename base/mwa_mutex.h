// A recursive lock.
#pragma once
#include "mwa_error.h"

struct MwaMutex;

MwaMutex *MwaMutex_new(MwaErrorInfo *pErrorInfo);
void MwaMutex_free(MwaMutex *self);
void MwaMutex_lock(MwaMutex *self);
void MwaMutex_unlock(MwaMutex *self);
