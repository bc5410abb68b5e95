#pragma once

// A kernel32 function that not every Windows has, found at run time: a program that imported it
// would not start where it is missing.

#include "platform/Platform.h"

// ERROR_PROC_NOT_FOUND where this Windows lacks the function.
platform::Status FindKernel32Function(const char* name, platform::Procedure* procedure);
