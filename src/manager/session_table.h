// The manager's open conferences, keyed and ordered by conference id.
#pragma once

#include <map>
#include <string>

#include "common/ref_ptr.h"
#include "session/video_conf_session.h"

namespace kalo::video {

using SessionTable = std::map<std::string, COMM::RefPtr<VideoConfSession>>;

}  // namespace kalo::video
