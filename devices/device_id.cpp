#include "devices/device_id.h"

#include <strings.h>

bool DeviceIdToIdent(TMMDeviceId id, std::string& ident) {
  if (id == InvalidId) {
    ident = "InvalidId";
    return true;
  }
  if (id == MapperId) {
    ident = "MapperId";
    return true;
  }
  return false;
}

bool IdentToDeviceId(const std::string& ident, TMMDeviceId& id) {
  if (strcasecmp(ident.c_str(), "InvalidId") == 0) {
    id = InvalidId;
    return true;
  }
  if (strcasecmp(ident.c_str(), "MapperId") == 0) {
    id = MapperId;
    return true;
  }
  return false;
}
