#include "app/app_classes.h"

#include "capture/wave_in.h"
#include "controls/level.h"
#include "devices/audio_library.h"
#include "platform/framework/controls.h"
#include "platform/framework/properties.h"
#include "playback/audio_player.h"
#include "playback/wave_out.h"
#include "stream/connector.h"

void RegisterAppClasses() {
  InitAudioLibrary();
  RegisterStandardControls();
  RegisterClass(TMMWaveIn::StaticClassInfo());
  RegisterClass(TMMWaveOut::StaticClassInfo());
  RegisterClass(TMMAudioPlayer::StaticClassInfo());
  RegisterClass(TMMConnector::StaticClassInfo());
  RegisterLevelControls();
}
