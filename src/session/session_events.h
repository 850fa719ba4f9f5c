// What a conference session tells the object that keeps it in its table.
#pragma once

#include <string>

namespace kalo::video {

// The manager implements it. The calls come on the manager's thread, from
// inside the session's notifications; the session holds a reference on
// itself across each call, so `cid` (the session's own handle text) stays
// valid even when the call removes the session from the table.
class ISessionEvents {
 public:
  // The conference's network session is connected.
  virtual void OnKSNSessionReady(const std::string& cid) = 0;
  // The conference is over (the library closed it, or its stream broke):
  // close it and tell the observers.
  virtual void OnKSNSessionClose(const std::string& cid) = 0;
  // The partner has no clean picture: the next frame sent should be a key
  // frame. The partner asks again while none comes; pacing the answers is
  // the sender's. Nothing by default: a party that only receives has no
  // frames to send.
  virtual void OnKeyFrameRequest(const std::string& /*cid*/) {}

 protected:
  ISessionEvents() = default;
  ISessionEvents(const ISessionEvents&) = default;
  ISessionEvents& operator=(const ISessionEvents&) = default;
  ~ISessionEvents() = default;
};

}  // namespace kalo::video
