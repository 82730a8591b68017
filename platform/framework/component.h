#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/framework/exception.h"

struct TClassInfo;
struct TPropInfo;
class TComponent;

enum TComponentStateFlag : unsigned {
  csLoading = 1,
  csReading = 2,
  csDesigning = 4,
  csDestroying = 8,
};

enum TOperation { opInsert, opRemove };

// Event with the object that caused it.
using TNotifyEvent = std::function<void(TComponent* sender)>;

// A component: an owner, a name and published properties. A component owns
// the components created with it as owner and destroys them with itself.
// When a component goes, its owner tells every other component it owns (and
// every component that asked to be told), so that references can be dropped.
class TComponent {
 public:
  explicit TComponent(TComponent* owner);
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* GetOwner() const { return owner_; }
  const std::string& GetName() const { return name_; }
  // Renames; a name already used by another component of the same owner
  // (compared without letter case) is refused with an exception.
  void SetName(const std::string& name);
  std::int32_t GetTag() const { return tag_; }
  void SetTag(std::int32_t tag) { tag_ = tag; }

  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Components(int index) const { return components_.at(index); }
  // The owned component of that name, letter case ignored; nullptr if none.
  TComponent* FindComponent(const std::string& name) const;
  template <class T>
  T* FindAs(const std::string& name) const {
    return dynamic_cast<T*>(FindComponent(name));
  }
  // The owned component of that name and class; raises EComponentError when
  // there is none (a layout that lacks a control its window needs).
  template <class T>
  T* FindRequired(const std::string& name) const;

  unsigned ComponentState() const { return state_; }
  bool HasState(TComponentStateFlag flag) const { return (state_ & flag) != 0; }
  void SetDesigning(bool on) { SetState(csDesigning, on); }

  // Called once a layout has been read and all references are resolved.
  virtual void Loaded();
  // The layout reader places a component inside the object it is written in;
  // visual controls take it as their parent control.
  virtual void SetParentComponent(TComponent* /*parent*/) {}
  // Another component was inserted or is being removed.
  virtual void Notification(TComponent* component, TOperation operation);
  // Asks to be notified when component goes although it has another owner.
  void FreeNotification(TComponent* component);
  void RemoveFreeNotification(TComponent* component);

  // Class metadata: the class name and the published property table.
  static const TClassInfo& StaticClassInfo();
  virtual const TClassInfo& ClassInfo() const { return StaticClassInfo(); }
  const std::string& ClassName() const;
  const TPropInfo* FindProperty(const std::string& name) const;

  // Event handlers this component publishes by name, for layouts that bind
  // events to them (the window's handlers).
  template <class Fn>
  void PublishMethod(const std::string& name, Fn fn) {
    methods_[name] = std::function(std::move(fn));
  }
  template <class Sig>
  std::function<Sig> FindMethod(const std::string& name) const {
    auto it = methods_.find(name);
    if (it == methods_.end()) return {};
    auto* fn = std::any_cast<std::function<Sig>>(&it->second);
    return fn ? *fn : std::function<Sig>();
  }
  bool HasMethod(const std::string& name) const { return methods_.count(name) != 0; }

  // Loading state, set by the layout reader.
  void BeginLoading() { SetState(csLoading | csReading, true); }
  void EndReading() { SetState(csReading, false); }

 protected:
  // Destroys the owned components now; derived destructors call it while
  // their own state still exists.
  void DestroyComponents();
  void SetState(unsigned flags, bool on) { state_ = on ? (state_ | flags) : (state_ & ~flags); }

 private:
  void InsertComponent(TComponent* component);
  void RemoveComponent(TComponent* component);

  TComponent* owner_;
  std::string name_;
  std::int32_t tag_ = 0;
  unsigned state_ = 0;
  std::vector<TComponent*> components_;
  std::vector<TComponent*> free_notifies_;
  std::map<std::string, std::any> methods_;
};

// Raised by the framework for misuse such as a duplicate name.
class EComponentError : public Exception {
 public:
  using Exception::Exception;
};

template <class T>
T* TComponent::FindRequired(const std::string& name) const {
  T* c = FindAs<T>(name);
  if (!c) throw EComponentError(GetName() + " lacks " + name);
  return c;
}
