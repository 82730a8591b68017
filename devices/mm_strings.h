#pragma once

#include <string>

// The audio components' message texts, keyed 28000 + n.
inline constexpr int kMMStringBase = 28000;

inline constexpr int kMMWaveFileFilter = 28004;   // "Wave Files(*.wav)|*.wav"
inline constexpr int kMMChangeWhileOpen = 28060;  // property changed while open
inline constexpr int kMMErrorReadingWaveFile = 28130;
inline constexpr int kMMCannotWriteMemoryWave = 28131;
inline constexpr int kMMInvalidWaveFile = 28133;
inline constexpr int kMMCannotSetupFileBuffer = 28137;
inline constexpr int kMMCannotOpenWaveFile = 28138;
inline constexpr int kMMCannotCreateWaveFile = 28139;
inline constexpr int kMMErrorSeekingFile = 28147;
inline constexpr int kMMNoWaveInDevice = 28160;      // no recording device
inline constexpr int kMMNoWaveOutDevice = 28161;     // no playing device
inline constexpr int kMMInvalidDeviceId = 28162;     // DeviceID is InvalidId
inline constexpr int kMMUnknownErrorNumber = 28163;  // no platform text for a code
inline constexpr int kMMInvalidWaveFormat = 28164;
inline constexpr int kMMCannotRecordFormat = 28165;
inline constexpr int kMMCannotPlayFormat = 28166;
inline constexpr int kMMCannotOpenDevice = 28167;
inline constexpr int kMMCannotCloseDevice = 28168;
inline constexpr int kMMCannotStartDevice = 28169;
inline constexpr int kMMCannotAllocateHeader = 28170;
inline constexpr int kMMErrorFillingBuffer = 28171;
inline constexpr int kMMCannotCreateThread = 28172;

// The text of message `id`; empty for an id without a text.
std::string LoadMMString(int id);
