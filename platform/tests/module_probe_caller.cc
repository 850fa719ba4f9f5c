// A library that loads a library by bare name, as the module loads its
// peer-network library: the one beside it must win.
#include "plat/module.h"

extern "C" __attribute__((visibility("default"))) void* plat_probe_load(const char* name) {
  void* module = plat::LoadLibrary(name);
  // Keeps the call from becoming a tail call, which would hide this image.
  asm volatile("" ::: "memory");
  return module;
}
