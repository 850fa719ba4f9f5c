#include "session/session_table.h"

namespace kalo::video {

bool CloseTableSession(SessionTable& table, const std::string& cid) {
  const auto it = table.find(cid);
  if (it == table.end())
    return false;
  const COMM::RefPtr<VideoConfSession> session = it->second;
  const std::string key = it->first;
  session->Stop();
  // By key, not by iterator: what the library says while closing may close
  // other conferences of the table meanwhile.
  table.erase(key);
  return true;
}

}  // namespace kalo::video
