#include "platform/framework/properties.h"

#include <strings.h>

#include <charconv>
#include <map>
#include <mutex>

#include "platform/framework/component.h"

namespace {

struct IdentConverters {
  TIdentToInt to_int;
  TIntToIdent to_ident;
};

struct CaseLess {
  bool operator()(const std::string& a, const std::string& b) const {
    return strcasecmp(a.c_str(), b.c_str()) < 0;
  }
};

std::mutex registry_lock;

std::map<std::string, IdentConverters>& IdentTable() {
  static std::map<std::string, IdentConverters> table;
  return table;
}

std::map<std::string, const TClassInfo*, CaseLess>& ClassTable() {
  static std::map<std::string, const TClassInfo*, CaseLess> table;
  return table;
}

}  // namespace

const TPropInfo* TClassInfo::FindProperty(const std::string& prop) const {
  for (const TClassInfo* c = this; c; c = c->parent)
    for (const TPropInfo& p : c->properties)
      if (strcasecmp(p.name.c_str(), prop.c_str()) == 0) return &p;
  return nullptr;
}

bool TClassInfo::InheritsFrom(const std::string& class_name) const {
  for (const TClassInfo* c = this; c; c = c->parent)
    if (strcasecmp(c->name.c_str(), class_name.c_str()) == 0) return true;
  return false;
}

void RegisterIntegerConsts(const std::string& type, TIdentToInt to_int, TIntToIdent to_ident) {
  std::lock_guard<std::mutex> lock(registry_lock);
  IdentTable()[type] = IdentConverters{std::move(to_int), std::move(to_ident)};
}

bool IdentToInteger(const std::string& type, const std::string& ident, std::int64_t& value) {
  std::lock_guard<std::mutex> lock(registry_lock);
  auto it = IdentTable().find(type);
  return it != IdentTable().end() && it->second.to_int && it->second.to_int(ident, value);
}

bool IntegerToIdent(const std::string& type, std::int64_t value, std::string& ident) {
  std::lock_guard<std::mutex> lock(registry_lock);
  auto it = IdentTable().find(type);
  return it != IdentTable().end() && it->second.to_ident && it->second.to_ident(value, ident);
}

void RegisterClass(const TClassInfo& info) {
  std::lock_guard<std::mutex> lock(registry_lock);
  ClassTable()[info.name] = &info;
}

const TClassInfo* FindClass(const std::string& name) {
  std::lock_guard<std::mutex> lock(registry_lock);
  auto it = ClassTable().find(name);
  return it == ClassTable().end() ? nullptr : it->second;
}

std::string PropertyValueToText(const TPropInfo& prop, const TPropValue& value) {
  switch (prop.kind) {
    case TPropKind::Integer: {
      auto v = std::get<std::int64_t>(value);
      std::string ident;
      if (!prop.integer_type.empty() && IntegerToIdent(prop.integer_type, v, ident)) return ident;
      return std::to_string(v);
    }
    case TPropKind::Float: {
      // The shortest text that reads back as the same value.
      char text[32];
      auto [end, ec] = std::to_chars(text, text + sizeof(text), std::get<double>(value));
      return ec == std::errc() ? std::string(text, end) : std::string("0");
    }
    case TPropKind::String: {
      std::string out = "'";
      for (char ch : std::get<std::string>(value)) {
        if (ch == '\'') out += '\'';
        out += ch;
      }
      return out + "'";
    }
    case TPropKind::Boolean:
      return std::get<bool>(value) ? "True" : "False";
    case TPropKind::Enum: {
      auto v = std::get<std::int64_t>(value);
      return v >= 0 && v < static_cast<std::int64_t>(prop.names.size()) ? prop.names[v]
                                                                        : std::to_string(v);
    }
    case TPropKind::Set: {
      auto bits = std::get<TPropSet>(value).bits;
      std::string out = "[";
      for (std::size_t i = 0; i < prop.names.size() && i < 32; ++i)
        if (bits & (1u << i)) out += (out.size() > 1 ? ", " : "") + prop.names[i];
      return out + "]";
    }
    case TPropKind::Component: {
      TComponent* c = std::get<TComponent*>(value);
      return c ? c->GetName() : "nil";
    }
    case TPropKind::Event:
      return {};
    case TPropKind::Collection:
      return "<" + std::to_string(std::get<std::int64_t>(value)) + " items>";
  }
  return {};
}

std::string ReadPropertyText(const TComponent& component, const std::string& property) {
  const TPropInfo* p = component.FindProperty(property);
  if (!p || !p->get) throw Exception("Property " + property + " does not exist");
  return PropertyValueToText(*p, p->get(component));
}

TComponent* GetComponentProperty(const TComponent& component, const std::string& property) {
  const TPropInfo* p = component.FindProperty(property);
  if (!p || p->kind != TPropKind::Component) return nullptr;
  return std::get<TComponent*>(p->get(component));
}

bool SetComponentProperty(TComponent& component, const std::string& property, TComponent* value) {
  const TPropInfo* p = component.FindProperty(property);
  if (!p || p->kind != TPropKind::Component || !p->set) return false;
  p->set(component, value);
  return true;
}
