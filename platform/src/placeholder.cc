// Replaced by the layer's sources.
