#include "platform/framework/application.h"

#include "platform/framework/form.h"

// The parts of the application object every toolkit shares; the rest is in
// the toolkit's binding (qt/, win32/).

namespace {

TApplication the_application;

}  // namespace

TApplication* Application = &the_application;

TApplication::TApplication() : TComponent(nullptr) {}

TApplication::~TApplication() {
  DestroyComponents();
}

void TApplication::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == opRemove && component == main_form_) main_form_ = nullptr;
}
