#include "app/Kernel32Function.h"

using namespace platform;

Status FindKernel32Function(const char* name, Procedure* procedure) {
  Module kernel32 = nullptr;
  if (Status status = GetModuleHandleW(u"kernel32.dll", &kernel32)) return status;
  return GetProcAddress(kernel32, name, procedure);
}
