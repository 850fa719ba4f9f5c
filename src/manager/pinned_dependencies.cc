// The libraries the module links that cannot be unloaded safely stay loaded
// when a host unloads the module: the codec library's FFmpeg and its codecs
// allocate in their load-time constructors, and GStreamer's types stay
// registered in GLib's type system once set up. Unloading them with the
// module would lose that memory on every cycle, and a later load would find
// types whose code is gone. The module itself still unloads.
#include <dlfcn.h>

#include <initializer_list>

namespace {

__attribute__((constructor)) void KeepDependenciesLoaded() {
  for (const char* name :
       {"libVCodec_Xvid.so", "libgstreamer-1.0.so.0", "libgstbase-1.0.so.0", "libgstapp-1.0.so.0",
        "libgstvideo-1.0.so.0", "libgobject-2.0.so.0", "libglib-2.0.so.0"}) {
    // Each is loaded already, as the module's own dependency; a missing one
    // is simply not found.
    dlopen(name, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
  }
}

}  // namespace
