// The NATS client options every connection of this library uses, built from
// the settings.
#pragma once

#include <nats/nats.h>

#include <memory>
#include <string>

#include "ksn_settings.h"

namespace ksn {

struct NatsOptionsDeleter {
  void operator()(natsOptions* options) const { natsOptions_Destroy(options); }
};
using NatsOptionsPtr = std::unique_ptr<natsOptions, NatsOptionsDeleter>;

// Servers, credentials and TLS from the settings; each publish goes out at
// once (no client-side batching); reconnects forever, quickly. Null with
// `error` set when a setting is refused (for instance an unreadable CA file).
NatsOptionsPtr MakeNatsOptions(const KsnSettings& settings, std::string* error);

}  // namespace ksn
