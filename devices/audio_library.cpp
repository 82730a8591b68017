#include "devices/audio_library.h"

#include "devices/device_id.h"
#include "platform/framework/properties.h"

void InitAudioLibrary() {
  RegisterIntegerConsts(
      "TMMDeviceId",
      [](const std::string& ident, std::int64_t& value) {
        TMMDeviceId id;
        if (!IdentToDeviceId(ident, id)) return false;
        value = id;
        return true;
      },
      [](std::int64_t value, std::string& ident) {
        return value >= INT32_MIN && value <= INT32_MAX &&
               DeviceIdToIdent(static_cast<TMMDeviceId>(value), ident);
      });
}
