#include <cstdio>
#include <exception>
#include <string>

#include "app/app_classes.h"
#include "app/info_window.h"
#include "app/main_window.h"
#include "platform/audio/audio_backend.h"
#include "platform/framework/application.h"
#include "platform/messages/messages.h"

int main(int argc, char** argv) {
  try {
    Application->Initialize(argc, argv);
  } catch (const std::exception& e) {
    // Without a display nobody would see the window while every input records.
    std::fprintf(stderr, "tessaline: %s\n", e.what());
    return 1;
  }
  Application->SetTitle("TESSALINE AUDIO DRIVER");
  RegisterAppClasses();
  // A back-end that was named but cannot be had leaves the window without
  // devices; say why.
  if (const std::string problem = platform::AudioBackendProblem(); !problem.empty())
    std::fprintf(stderr, "tessaline: %s\n", problem.c_str());
  try {
    Application->CreateForm<TForm1>();
  } catch (const std::exception& e) {
    // Without its main window the program cannot run.
    platform::ShowException(e);
    Application->DestroyForms();
    return 1;
  }
  try {
    // Its layout shows it at once, above the main window.
    Application->CreateForm<TFrmInfo>();
  } catch (const std::exception& e) {
    // The program works without it.
    platform::ShowException(e);
  }
  Application->Run();
  Application->DestroyForms();
  return 0;
}
