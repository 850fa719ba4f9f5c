// The end of the capture graph: copies every sample into a SampleRecord and
// hands it to the one registered VideoCallback on the owner thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "capture/media_type.h"
#include "capture/sample_record.h"
#include "capture/sample_record_pool.h"
#include "capture/video_callback.h"
#include "common/thread_checker.h"
#include "plat/types.h"

struct IVideoRender {
  virtual void SetCallback(VideoCallback* callback) = 0;
  virtual void ClearCallback() = 0;

 protected:
  ~IVideoRender() = default;
};

// One picture as the streaming thread holds it, with the row order the
// sample path expects: `rows` rows of `row_bytes`, `stride` bytes apart in
// `data`, copied last row first when `flip`. rows == 0 copies `size` bytes
// as they are.
struct RawSample {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;  // the whole buffer
  std::int32_t actual_length = 0;
  MediaType media_type;
  std::int64_t media_start = -1;
  std::int64_t media_stop = -1;
  std::int64_t time_start = -1;
  std::int64_t time_stop = -1;
  std::int32_t rows = 0;
  std::int32_t row_bytes = 0;
  std::ptrdiff_t stride = 0;
  bool flip = false;
};

// Constructed and destroyed on the owner thread, which must pump messages for
// posted records to arrive. The streaming threads must have left
// DoRenderSample for good before the destructor runs. Records come from a
// pool of kMaxRecordsInFlight + 1 (those posted and one delivered directly),
// so the sample path allocates nothing once the records have the picture's size.
class VideoRender final : public IVideoRender {
 public:
  static constexpr char kName[] = "NULL Render";
  static constexpr char kWindowClassName[] = "VIDEORANDER";
  // Records posted to the owner and not yet handled. The owner thread may stop
  // pumping for seconds; past this bound samples are dropped (and counted)
  // instead of piling up, and flow again as soon as it pumps.
  static constexpr std::size_t kMaxRecordsInFlight = 3;

  VideoRender();
  ~VideoRender();
  VideoRender(const VideoRender&) = delete;
  VideoRender& operator=(const VideoRender&) = delete;

  // On the owner thread, which it records as such.
  void SetCallback(VideoCallback* callback) override;
  // Without the lock: may be called from inside the callback.
  void ClearCallback() override;

  // On a streaming thread (or the owner thread, which calls back at once).
  void DoRenderSample(const RawSample& sample);

  plat::HWND hwnd() const { return hwnd_; }
  std::size_t records_in_flight() const { return in_flight_.load(); }
  std::uint64_t dropped() const { return dropped_.load(); }

 private:
  static plat::LRESULT WindowProc(plat::HWND hwnd, plat::UINT message, plat::WPARAM wparam,
                                  plat::LPARAM lparam);
  // False when the record was not handed over (the caller gives it back).
  bool Deliver(SampleRecord* record);
  // The sample in a record of the pool; null when it does not fit its
  // buffer or no record is free.
  SampleRecord* CopySample(const RawSample& sample);

  COMM::ThreadChecker checker_;
  std::atomic<VideoCallback*> callback_{nullptr};
  std::atomic<plat::DWORD> owner_thread_;
  plat::HWND hwnd_ = 0;
  std::recursive_mutex lock_;
  std::atomic<std::size_t> in_flight_{0};
  std::atomic<std::uint64_t> dropped_{0};
  SampleRecordPool pool_{kMaxRecordsInFlight + 1};
};
