#include "platform/framework/component.h"

#include <strings.h>

#include <algorithm>

#include "platform/framework/properties.h"

TComponent::TComponent(TComponent* owner) : owner_(nullptr) {
  if (owner) owner->InsertComponent(this);
}

TComponent::~TComponent() {
  SetState(csDestroying, true);
  // Tell everyone who asked, then destroy what this component owns.
  auto notifies = free_notifies_;
  free_notifies_.clear();
  for (TComponent* c : notifies) {
    c->RemoveFreeNotification(this);
    c->Notification(this, opRemove);
  }
  DestroyComponents();
  if (owner_) owner_->RemoveComponent(this);
}

void TComponent::DestroyComponents() {
  while (!components_.empty()) {
    TComponent* c = components_.back();
    delete c;  // removes itself from components_
  }
}

void TComponent::InsertComponent(TComponent* component) {
  components_.push_back(component);
  component->owner_ = this;
  Notification(component, opInsert);
}

void TComponent::RemoveComponent(TComponent* component) {
  Notification(component, opRemove);
  std::erase(components_, component);
  component->owner_ = nullptr;
}

void TComponent::SetName(const std::string& name) {
  if (name == name_) return;
  if (owner_ && !name.empty()) {
    TComponent* other = owner_->FindComponent(name);
    if (other && other != this)
      throw EComponentError("A component named " + name + " already exists");
  }
  name_ = name;
}

TComponent* TComponent::FindComponent(const std::string& name) const {
  if (name.empty()) return nullptr;
  for (TComponent* c : components_)
    if (strcasecmp(c->name_.c_str(), name.c_str()) == 0) return c;
  return nullptr;
}

void TComponent::Loaded() {
  SetState(csLoading, false);
}

void TComponent::Notification(TComponent* component, TOperation operation) {
  if (operation == opRemove && component) RemoveFreeNotification(component);
  // Pass it on to every owned component (newest first), as the owner's
  // family shares references among itself.
  for (auto i = components_.size(); i-- > 0;) {
    if (i < components_.size() && components_[i] != component)
      components_[i]->Notification(component, operation);
  }
}

void TComponent::FreeNotification(TComponent* component) {
  if (!component || component == this) return;
  if (std::find(free_notifies_.begin(), free_notifies_.end(), component) == free_notifies_.end())
    free_notifies_.push_back(component);
  if (std::find(component->free_notifies_.begin(), component->free_notifies_.end(), this) ==
      component->free_notifies_.end())
    component->free_notifies_.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* component) {
  std::erase(free_notifies_, component);
}

const TClassInfo& TComponent::StaticClassInfo() {
  static const TClassInfo info = TClassInfoBuilder<TComponent>("TComponent", nullptr)
                                     .Str("Name", &TComponent::GetName, &TComponent::SetName)
                                     .Int("Tag", &TComponent::GetTag, &TComponent::SetTag)
                                     .Build();
  return info;
}

const std::string& TComponent::ClassName() const {
  return ClassInfo().name;
}

const TPropInfo* TComponent::FindProperty(const std::string& name) const {
  return ClassInfo().FindProperty(name);
}
