// Where codec objects come from.
#pragma once

#include <functional>
#include <memory>

#include "external/ivcodec.h"

namespace kalo::video {

// Makes a new codec object, or null when none can be made.
using CodecFactory = std::function<std::unique_ptr<IVCodec>()>;

// The codec library's IVCodec_Creater. The module refers to that export
// weakly, so it loads and runs where the library is absent; the answer there
// is null, as the export's own "cannot make one" is.
std::unique_ptr<IVCodec> CreateLibraryCodec();

// True when the codec library's export was bound at load time.
bool CodecLibraryPresent();

}  // namespace kalo::video
