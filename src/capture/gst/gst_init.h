// GStreamer is set up once per process, on first use.
#pragma once

void EnsureGstInitialized();
