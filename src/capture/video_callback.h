// The receiver of camera samples that the preview renderer hands over.
#pragma once

// The renderer's heap copy of one camera sample; the renderer owns it.
struct SampleRecord;

// The renderer knows its receiver only through this one operation. It never
// deletes a receiver through it, hence no virtual destructor.
struct VideoCallback {
  // The record stays the renderer's; the receiver may replace its pixel buffer.
  virtual void OnSample(SampleRecord* record) = 0;

 protected:
  VideoCallback() = default;
  VideoCallback(const VideoCallback&) = default;
  VideoCallback& operator=(const VideoCallback&) = default;
  ~VideoCallback() = default;
};
