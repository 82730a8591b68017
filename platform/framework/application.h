#pragma once

#include <string>

#include "platform/framework/component.h"

class TCustomForm;

// The application: owns the windows, runs the message loop, and ends when
// its main window (the first one created) is closed.
class TApplication : public TComponent {
 public:
  TApplication();
  ~TApplication() override;

  // Starts the toolkit on the display: X wherever DISPLAY names one (Wayland
  // should it not open), else Wayland, unless QT_QPA_PLATFORM names a
  // platform. Raises Exception when there is none (neither DISPLAY nor
  // WAYLAND_DISPLAY is set, and no toolkit platform is named by
  // QT_QPA_PLATFORM); a display that cannot be opened ends the program with a
  // message on standard error and exit code 1. Should the display go away
  // later, the program ends with exit code 1 (on X its windows destroyed
  // first).
  void Initialize(int& argc, char** argv);

  // Creates a window owned by the application; the first becomes the main window.
  template <class F>
  F* CreateForm() {
    auto* form = new F(this);
    if (!main_form_) main_form_ = form;
    return form;
  }
  TCustomForm* MainForm() const { return main_form_; }

  // Shows the main window and processes messages until Terminate. Meanwhile
  // SIGTERM and SIGINT close the main window (the same signal again ends the
  // program at once).
  void Run();
  void Terminate();
  bool Terminated() const { return terminated_; }
  // Processes the messages waiting now.
  void ProcessMessages();

  const std::string& GetTitle() const { return title_; }
  void SetTitle(const std::string& title);
  // Full path of the running program and its folder, with a trailing '/'.
  std::string ExeName() const;
  std::string ExeDir() const;

  // Destroys every window, before the toolkit goes.
  void DestroyForms() { DestroyComponents(); }

  void Notification(TComponent* component, TOperation operation) override;

 private:
  TCustomForm* main_form_ = nullptr;
  bool terminated_ = false;
  std::string title_;
};

extern TApplication* Application;

namespace platform {
// Makes sure the toolkit runs (for tests and tools that show no window);
// without a display on the off-screen platform.
void EnsureToolkit();
}  // namespace platform
