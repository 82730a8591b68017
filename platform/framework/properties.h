#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <variant>
#include <vector>

#include "platform/framework/component.h"
#include "platform/framework/exception.h"

// Kinds of published property, as a layout writes their values.
enum class TPropKind {
  Integer,     // a number, or a registered name of the property's integer type
  Float,       // a decimal number (12, -3.5, 1.5E2)
  String,      // 'text'
  Boolean,     // True / False
  Enum,        // one of the property's value names
  Set,         // [name, name]
  Component,   // the name of another component; resolved after all exist
  Event,       // the name of a handler the layout's root publishes
  Collection,  // <item ... end item ... end>: items with properties of their own
};

// A set is kept as a bit mask of ordinals.
struct TPropSet {
  std::uint32_t bits = 0;
  bool operator==(const TPropSet&) const = default;
};

// The value a property holds or is given.
using TPropValue =
    std::variant<std::monostate, std::int64_t, std::string, bool, TPropSet, TComponent*, double>;

struct TPropInfo {
  std::string name;
  TPropKind kind = TPropKind::Integer;
  // Value names of Enum and Set properties, ordinal order.
  std::vector<std::string> names;
  // Integer properties whose type has registered names (TColor, TMMDeviceId).
  std::string integer_type;
  std::function<TPropValue(const TComponent&)> get;
  // Throws when the value does not fit the property.
  std::function<void(TComponent&, const TPropValue&)> set;
  // Event properties: binds the handler named in the layout from root.
  std::function<void(TComponent&, TComponent& root, const std::string& handler)> bind;
  // Collection properties (get yields the number of items): removes every
  // item, and adds an item whose properties the layout then sets.
  std::function<void(TComponent&)> clear;
  std::function<TComponent*(TComponent&)> add;
};

struct TClassInfo {
  std::string name;
  const TClassInfo* parent = nullptr;
  std::vector<TPropInfo> properties;
  // Creates an instance for a layout; empty for classes a layout cannot create.
  std::function<TComponent*(TComponent* owner)> create;

  // The property of that name in this class or an ancestor, letter case ignored.
  const TPropInfo* FindProperty(const std::string& name) const;
  bool InheritsFrom(const std::string& class_name) const;
};

// Names of integer values, per integer type: a pair of conversions like those
// that let a layout write a colour as clBlack or a device as MapperId.
using TIntToIdent = std::function<bool(std::int64_t value, std::string& ident)>;
using TIdentToInt = std::function<bool(const std::string& ident, std::int64_t& value)>;
void RegisterIntegerConsts(const std::string& type, TIdentToInt to_int, TIntToIdent to_ident);
bool IdentToInteger(const std::string& type, const std::string& ident, std::int64_t& value);
bool IntegerToIdent(const std::string& type, std::int64_t value, std::string& ident);

// Classes that layouts may create, by name.
void RegisterClass(const TClassInfo& info);
const TClassInfo* FindClass(const std::string& name);

// A property value as a layout writes it: numbers, 'quoted text' (quotes
// doubled), True/False, value names, [sets], component names, registered names.
std::string PropertyValueToText(const TPropInfo& prop, const TPropValue& value);
// The value of a component's property as a layout writes it.
std::string ReadPropertyText(const TComponent& component, const std::string& property);
// The component a Component property holds; nullptr for none or no such property.
TComponent* GetComponentProperty(const TComponent& component, const std::string& property);
// Sets a Component property; false when there is no such property.
bool SetComponentProperty(TComponent& component, const std::string& property, TComponent* value);

// Builds a class's property table from getters and setters of class T.
template <class T>
class TClassInfoBuilder {
 public:
  TClassInfoBuilder(std::string name, const TClassInfo* parent) {
    info_.name = std::move(name);
    info_.parent = parent;
  }

  // Layouts may create instances of the class.
  TClassInfoBuilder& Creatable() {
    info_.create = [](TComponent* owner) -> TComponent* { return new T(owner); };
    return *this;
  }

  template <class V>
  TClassInfoBuilder& Int(const std::string& name, V (T::*getter)() const, void (T::*setter)(V),
                         std::string integer_type = {}) {
    TPropInfo p;
    p.name = name;
    p.kind = TPropKind::Integer;
    p.integer_type = std::move(integer_type);
    p.get = [getter](const TComponent& c) -> TPropValue {
      return static_cast<std::int64_t>((static_cast<const T&>(c).*getter)());
    };
    if (setter)
      p.set = [setter](TComponent& c, const TPropValue& v) {
        (static_cast<T&>(c).*setter)(static_cast<V>(std::get<std::int64_t>(v)));
      };
    info_.properties.push_back(std::move(p));
    return *this;
  }

  template <class V>
  TClassInfoBuilder& Float(const std::string& name, V (T::*getter)() const, void (T::*setter)(V)) {
    TPropInfo p;
    p.name = name;
    p.kind = TPropKind::Float;
    p.get = [getter](const TComponent& c) -> TPropValue {
      return static_cast<double>((static_cast<const T&>(c).*getter)());
    };
    if (setter)
      p.set = [setter](TComponent& c, const TPropValue& v) {
        // A value beyond the type's range is held at its limit, never
        // converted out of range.
        constexpr double lowest = static_cast<double>(std::numeric_limits<V>::lowest());
        constexpr double highest = static_cast<double>(std::numeric_limits<V>::max());
        (static_cast<T&>(c).*
         setter)(static_cast<V>(std::clamp(std::get<double>(v), lowest, highest)));
      };
    info_.properties.push_back(std::move(p));
    return *this;
  }

  template <class R>
  TClassInfoBuilder& Str(const std::string& name, R (T::*getter)() const,
                         void (T::*setter)(const std::string&)) {
    TPropInfo p;
    p.name = name;
    p.kind = TPropKind::String;
    p.get = [getter](const TComponent& c) -> TPropValue {
      return std::string((static_cast<const T&>(c).*getter)());
    };
    if (setter)
      p.set = [setter](TComponent& c, const TPropValue& v) {
        (static_cast<T&>(c).*setter)(std::get<std::string>(v));
      };
    info_.properties.push_back(std::move(p));
    return *this;
  }

  TClassInfoBuilder& Bool(const std::string& name, bool (T::*getter)() const,
                          void (T::*setter)(bool)) {
    TPropInfo p;
    p.name = name;
    p.kind = TPropKind::Boolean;
    p.get = [getter](const TComponent& c) -> TPropValue {
      return (static_cast<const T&>(c).*getter)();
    };
    p.set = [setter](TComponent& c, const TPropValue& v) {
      (static_cast<T&>(c).*setter)(std::get<bool>(v));
    };
    info_.properties.push_back(std::move(p));
    return *this;
  }

  template <class E>
  TClassInfoBuilder& Enum(const std::string& name, std::vector<std::string> names,
                          E (T::*getter)() const, void (T::*setter)(E)) {
    TPropInfo p;
    p.name = name;
    p.kind = TPropKind::Enum;
    p.names = std::move(names);
    p.get = [getter](const TComponent& c) -> TPropValue {
      return static_cast<std::int64_t>((static_cast<const T&>(c).*getter)());
    };
    p.set = [setter](TComponent& c, const TPropValue& v) {
      (static_cast<T&>(c).*setter)(static_cast<E>(std::get<std::int64_t>(v)));
    };
    info_.properties.push_back(std::move(p));
    return *this;
  }

  TClassInfoBuilder& Set(const std::string& name, std::vector<std::string> names,
                         std::uint32_t (T::*getter)() const, void (T::*setter)(std::uint32_t)) {
    TPropInfo p;
    p.name = name;
    p.kind = TPropKind::Set;
    p.names = std::move(names);
    p.get = [getter](const TComponent& c) -> TPropValue {
      return TPropSet{(static_cast<const T&>(c).*getter)()};
    };
    p.set = [setter](TComponent& c, const TPropValue& v) {
      (static_cast<T&>(c).*setter)(std::get<TPropSet>(v).bits);
    };
    info_.properties.push_back(std::move(p));
    return *this;
  }

  // A reference to another component of class U (or none).
  template <class U>
  TClassInfoBuilder& Ref(const std::string& name, U* (T::*getter)() const, void (T::*setter)(U*)) {
    TPropInfo p;
    p.name = name;
    p.kind = TPropKind::Component;
    p.get = [getter](const TComponent& c) -> TPropValue {
      return static_cast<TComponent*>((static_cast<const T&>(c).*getter)());
    };
    p.set = [setter, name](TComponent& c, const TPropValue& v) {
      TComponent* target = std::get<TComponent*>(v);
      U* typed = dynamic_cast<U*>(target);
      if (target && !typed) throw Exception("Invalid property value for " + name);
      (static_cast<T&>(c).*setter)(typed);
    };
    info_.properties.push_back(std::move(p));
    return *this;
  }

  // An event bound to a handler of the layout's root with signature Sig.
  template <class Sig>
  TClassInfoBuilder& Event(const std::string& name, std::function<Sig> T::*member) {
    TPropInfo p;
    p.name = name;
    p.kind = TPropKind::Event;
    p.get = [member](const TComponent& c) -> TPropValue {
      return static_cast<bool>(static_cast<const T&>(c).*member);
    };
    p.bind = [member, name](TComponent& c, TComponent& root, const std::string& handler) {
      auto fn = root.FindMethod<Sig>(handler);
      if (!fn) throw Exception("Method '" + handler + "' not found for " + name);
      static_cast<T&>(c).*member = std::move(fn);
    };
    info_.properties.push_back(std::move(p));
    return *this;
  }

  // A collection of items of class I (components owned by the collection,
  // not by any owner), read by a layout as <item ... end>.
  template <class I>
  TClassInfoBuilder& Collection(const std::string& name, int (T::*count)() const,
                                void (T::*clear)(), I* (T::*add)()) {
    TPropInfo p;
    p.name = name;
    p.kind = TPropKind::Collection;
    p.get = [count](const TComponent& c) -> TPropValue {
      return static_cast<std::int64_t>((static_cast<const T&>(c).*count)());
    };
    p.clear = [clear](TComponent& c) { (static_cast<T&>(c).*clear)(); };
    p.add = [add](TComponent& c) -> TComponent* { return (static_cast<T&>(c).*add)(); };
    info_.properties.push_back(std::move(p));
    return *this;
  }

  TClassInfo Build() { return std::move(info_); }

 private:
  TClassInfo info_;
};
