#pragma once

#include <cstdint>
#include <cstring>

#include "platform/acm/msacm.h"

namespace wavetest {

// Sets the extensible header's subformat to the identifier of a format tag.
inline void SetSubFormat(WAVEFORMATEXTENSIBLE& x, std::uint16_t tag) {
  const std::uint8_t guid[16] = {static_cast<std::uint8_t>(tag & 0xFF),
                                 static_cast<std::uint8_t>(tag >> 8),
                                 0x00,
                                 0x00,
                                 0x00,
                                 0x00,
                                 0x10,
                                 0x00,
                                 0x80,
                                 0x00,
                                 0x00,
                                 0xAA,
                                 0x00,
                                 0x38,
                                 0x9B,
                                 0x71};
  std::memcpy(&x.SubFormat, guid, sizeof guid);
}

}  // namespace wavetest
