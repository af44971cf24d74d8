// Private to the Windows backend.
#pragma once
#include <windows.h>

// Translates a Windows error number into the C library's errno value.
int pl_win_errno(DWORD err);
