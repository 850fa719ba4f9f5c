// UUID text for conference ids.
#include <uuid/uuid.h>

#include "plat/kernel.h"

namespace plat {

std::string CreateUuidText() {
  uuid_t uuid;
  uuid_generate_random(uuid);
  char text[37];
  uuid_unparse_lower(uuid, text);
  return std::string(text, 36);
}

}  // namespace plat
