// A library built twice under one file name, in two directories, to show
// which one a search finds.
extern "C" __attribute__((visibility("default"))) const char* plat_probe_where() {
  return PLAT_PROBE_WHERE;
}
