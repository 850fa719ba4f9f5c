// The open conferences of a manager, and the one careful way to close one.
#pragma once

#include <map>
#include <string>

#include "common/ref_ptr.h"
#include "session/video_conf_session.h"

namespace kalo::video {

// Keyed and ordered by conference id.
using SessionTable = std::map<std::string, COMM::RefPtr<VideoConfSession>>;

// Stops the conference `cid` and removes it from `table`; false when the table
// holds none. `cid` may be the session's own handle text, which the session
// hands out from inside its notifications: the session is held and the entry
// erased through a copy of its key, so the text stays valid until the
// session's own caller lets go.
bool CloseTableSession(SessionTable& table, const std::string& cid);

}  // namespace kalo::video
