// Loading shared libraries at run time.
#pragma once

#include <string>

#include "plat/export.h"
#include "plat/types.h"

namespace plat {

// Loads a shared library (dlopen, RTLD_NOW | RTLD_LOCAL). A bare file name is
// looked for first in the directory of the library (or program) whose code
// calls LoadLibrary, then through the normal search path; a name with a '/' is
// used as it is. Returns null on failure (LoadLibraryError says why).
// The caller's image is found from the return address: a call the compiler
// turns into a tail call (`return LoadLibrary(name);`) is attributed to the
// caller's caller, so such callers use LoadLibraryBeside.
PLAT_API HMODULE LoadLibrary(const char* file_name);
// The same, looking first beside the image that contains `address`.
PLAT_API HMODULE LoadLibraryBeside(const char* file_name, const void* address);
PLAT_API void* GetProcAddress(HMODULE module, const char* name);
// Fails for a handle that LoadLibrary did not return or that is already freed.
PLAT_API bool FreeLibrary(HMODULE module);
// Why the calling thread's last LoadLibrary failed (empty after a success).
PLAT_API std::string LoadLibraryError();

// The directory (no trailing '/') of the image that contains `address`, empty
// when unknown.
PLAT_API std::string ImageDirectoryOf(const void* address);

}  // namespace plat
