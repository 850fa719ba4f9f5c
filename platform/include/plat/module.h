// Loading shared libraries at run time.
#pragma once

#include <string>

#include "plat/export.h"
#include "plat/types.h"

namespace plat {

// Loads a shared library. A bare file name is looked for first in the
// directory of the library (or program) whose code calls LoadLibrary, then
// through the normal search path; a name with a '/' is used as it is.
// Returns null on failure.
PLAT_API HMODULE LoadLibrary(const char* file_name);
// The same, looking first beside the image that contains `address`.
PLAT_API HMODULE LoadLibraryBeside(const char* file_name, const void* address);
PLAT_API void* GetProcAddress(HMODULE module, const char* name);
PLAT_API bool FreeLibrary(HMODULE module);

// The directory (no trailing '/') of the image that contains `address`, empty
// when unknown.
PLAT_API std::string ImageDirectoryOf(const void* address);

}  // namespace plat
