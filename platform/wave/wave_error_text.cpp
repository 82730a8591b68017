#include "platform/wave/wave_error_text.h"

#include <cstring>

#include "platform/wave/standin.h"
#include "platform/wave/wave_caps.h"

namespace {

const char* ErrorText(MMRESULT error) {
  switch (error) {
    case MMSYSERR_NOERROR:
      return "The command completed without an error.";
    case MMSYSERR_ERROR:
      return "An unspecified error occurred in the audio device layer.";
    case MMSYSERR_BADDEVICEID:
      return "The device ID given is out of range for the devices on this system.";
    case MMSYSERR_NOTENABLED:
      return "The audio driver could not be enabled.";
    case MMSYSERR_ALLOCATED:
      return "The device is already in use by another program; wait until it is free and try "
             "again.";
    case MMSYSERR_INVALHANDLE:
      return "The device handle given is not valid.";
    case MMSYSERR_NODRIVER:
      return "No audio driver is available for this device.";
    case MMSYSERR_NOMEM:
      return "There is not enough memory for this operation; close some programs and try "
             "again.";
    case MMSYSERR_NOTSUPPORTED:
      return "The device does not support this function.";
    case MMSYSERR_BADERRNUM:
      return "The error number given has no meaning on this system.";
    case MMSYSERR_INVALFLAG:
      return "An unknown flag was passed to a system function.";
    case MMSYSERR_INVALPARAM:
      return "An invalid parameter was passed to a system function.";
    case MMSYSERR_HANDLEBUSY:
      return "The handle is being used by another thread at the same time; try again.";
    case MMSYSERR_INVALIDALIAS:
      return "The device alias given is not known.";
    case MMSYSERR_BADDB:
      return "The audio configuration store is damaged.";
    case MMSYSERR_KEYNOTFOUND:
      return "The configuration key was not found.";
    case MMSYSERR_READERROR:
      return "The audio configuration could not be read.";
    case MMSYSERR_WRITEERROR:
      return "The audio configuration could not be written.";
    case MMSYSERR_DELETEERROR:
      return "The audio configuration entry could not be deleted.";
    case MMSYSERR_VALNOTFOUND:
      return "The configuration value was not found.";
    case MMSYSERR_NODRIVERCB:
      return "The driver does not call back as required.";
    case MMSYSERR_MOREDATA:
      return "More data is available than fits the buffer given.";
    case WAVERR_BADFORMAT:
      return "The device cannot record or play the wave format given.";
    case WAVERR_STILLPLAYING:
      return "The device is still playing or recording buffers; reset it first.";
    case WAVERR_UNPREPARED:
      return "The wave buffer has not been prepared.";
    case WAVERR_SYNC:
      return "The device was opened synchronously, which it does not support.";
    default:
      return nullptr;
  }
}

MMRESULT GetErrorText(MMRESULT error, LPSTR text, UINT size) {
  if (text == nullptr || size == 0) return MMSYSERR_INVALPARAM;
  const char* message = ErrorText(error);
  if (message == nullptr) {
    text[0] = '\0';
    return MMSYSERR_BADERRNUM;
  }
  platform::CopyUtf8Field(message, text, size);
  return MMSYSERR_NOERROR;
}

}  // namespace

namespace platform::standin {

MMRESULT waveInGetErrorTextA(MMRESULT error, LPSTR text, UINT size) {
  return GetErrorText(error, text, size);
}

MMRESULT waveOutGetErrorTextA(MMRESULT error, LPSTR text, UINT size) {
  return GetErrorText(error, text, size);
}

}  // namespace platform::standin
