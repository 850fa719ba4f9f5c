// The library's one export.
#include "ksn_control_impl.h"

extern "C" __attribute__((visibility("default"))) KSNControl* iksnCreate() {
  try {
    return ksn::KsnControlImpl::Create(ksn::KsnSettings::FromEnvironment());
  } catch (const std::exception&) {
    return nullptr;
  }
}
