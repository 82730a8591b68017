#include <exception>

#include "app/app_classes.h"
#include "app/main_window.h"
#include "platform/framework/application.h"
#include "platform/messages/messages.h"

int main(int argc, char** argv) {
  Application->Initialize(argc, argv);
  Application->SetTitle("TESSALINE AUDIO DRIVER");
  RegisterAppClasses();
  try {
    Application->CreateForm<TForm1>();
  } catch (const std::exception& e) {
    // Without its main window the program cannot run.
    platform::ShowException(e);
    Application->DestroyForms();
    return 1;
  }
  Application->Run();
  Application->DestroyForms();
  return 0;
}
