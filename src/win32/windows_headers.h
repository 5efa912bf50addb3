// <windows.h> as every Win32 file takes it. Include the platform headers
// first: the Windows headers define CF_TEXT and friends as macros, which
// would rewrite the enumerators of the same names.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
