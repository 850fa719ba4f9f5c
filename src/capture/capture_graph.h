// A built camera graph: source, format filter, (decoder and colour
// converter,) renderer. Only the binding to the media framework knows its
// parts; the capture object drives it through this.
#pragma once

#include <string>
#include <vector>

#include "capture/graph_events.h"

class CaptureGraph {
 public:
  virtual ~CaptureGraph() = default;

  // Starts the flow of samples; false when the graph does not run.
  virtual bool Run() = 0;
  // Stops the flow and waits for the streaming threads to leave the
  // renderer; false leaves the graph as it was.
  virtual bool Stop() = 0;
  // The graph's event queue; it posts WM_GRAPH_NOTIFY to the window the graph
  // was built with whenever events are queued.
  virtual GraphEvents& events() = 0;
  // The names of the graph's elements, upstream first.
  virtual std::vector<std::string> ElementNames() const = 0;
};
