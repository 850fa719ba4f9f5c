// What the host hears about conferences: implemented by the host, registered
// with IVideoConfManager::RegisterObserver.
#pragma once

#include <cstdint>
#include <string>

namespace kalo::video {

// Bound by slot position. The module calls only OnSessionReady and
// OnSessionClose, always on the thread that drives the manager, and never
// deletes an observer.
class IVideoConfObserver {
 public:
  virtual void Reserved0() {}  // slot 0, never called
  virtual void Reserved1() {}  // slot 1, never called
  // Slot 2: the conference's network session is up.
  virtual void OnSessionReady(const std::string& cid) = 0;
  virtual void Reserved3() {}  // slot 3, never called
  // Slot 4: the conference was closed by its network session; reason 6000.
  virtual void OnSessionClose(std::int32_t reason, const std::string& cid) = 0;

 protected:
  IVideoConfObserver() = default;
  IVideoConfObserver(const IVideoConfObserver&) = default;
  IVideoConfObserver& operator=(const IVideoConfObserver&) = default;
  ~IVideoConfObserver() = default;
};

}  // namespace kalo::video
