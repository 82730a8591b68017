#pragma once

// Starts the audio library before any window exists: registers the names of
// the device identifiers (MapperId, InvalidId) for layouts. Safe to call again.
void InitAudioLibrary();
