#pragma once

// The ADPCM stage of an audio file's chain. Its own decoding is not built: the PCM converter
// behind it decodes every ADPCM format through the compression manager, so the stage
// accepts no format and passes everything through disabled.

#include "files/acm_converter.h"

class TMMADPCMConverter : public TMMACMConverter {
 public:
  explicit TMMADPCMConverter(TComponent* owner) : TMMACMConverter(owner) { SetEnabled(false); }

  static const TClassInfo& StaticClassInfo() {
    static const TClassInfo info = TClassInfoBuilder<TMMADPCMConverter>(
                                       "TMMADPCMConverter", &TMMACMConverter::StaticClassInfo())
                                       .Build();
    return info;
  }
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  // Whether the stage converts a file of this format.
  static bool Accepts(const WAVEFORMATEX* /*format*/) { return false; }
};
