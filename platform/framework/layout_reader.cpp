#include "platform/framework/layout_reader.h"

#include <strings.h>

#include <cctype>
#include <charconv>
#include <cmath>
#include <memory>
#include <variant>
#include <vector>

#include "platform/framework/component.h"
#include "platform/framework/properties.h"

namespace {

enum class ValueType { Integer, Float, String, Identifier, Set, Collection };

struct Assignment;

struct Value {
  ValueType type = ValueType::Integer;
  std::int64_t integer = 0;
  double real = 0;
  std::string text;              // string or identifier
  std::vector<std::string> set;  // set members
  // Collection items, each with its assignments.
  std::vector<std::vector<Assignment>> items;
};

struct Assignment {
  int line = 0;
  std::string property;
  Value value;
};

struct Object;
using Item = std::variant<Assignment, std::unique_ptr<Object>>;

struct Object {
  int line = 0;
  std::string name;
  std::string class_name;
  std::vector<Item> items;
};

[[noreturn]] void Fail(int line, const std::string& what) {
  throw ELayoutError("Layout line " + std::to_string(line) + ": " + what);
}

[[noreturn]] void BadValue(int line, const std::string& property) {
  Fail(line, "invalid value for property " + property);
}

bool IsIdentStart(char c) {
  return std::isalpha(static_cast<unsigned char>(c)) || c == '_';
}
bool IsIdentChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.';
}

std::string Trim(const std::string& s) {
  auto b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return {};
  auto e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

Value ParseValue(const std::string& text, int line) {
  Value v;
  if (text.empty()) Fail(line, "missing value");
  char c = text[0];
  if (c == '\'') {
    v.type = ValueType::String;
    std::size_t i = 1;
    for (;;) {
      if (i >= text.size()) Fail(line, "unterminated text");
      if (text[i] == '\'') {
        if (i + 1 < text.size() && text[i + 1] == '\'') {
          v.text += '\'';
          i += 2;
          continue;
        }
        ++i;
        break;
      }
      v.text += text[i++];
    }
    if (i != text.size()) Fail(line, "unexpected text after value");
    return v;
  }
  if (text == "<" || text == "<>") {
    v.type = ValueType::Collection;  // items follow on the next lines, up to '>'
    return v;
  }
  if (c == '[') {
    v.type = ValueType::Set;
    if (text.back() != ']') Fail(line, "unterminated set");
    std::string inner = text.substr(1, text.size() - 2);
    std::size_t start = 0;
    while (start <= inner.size()) {
      auto comma = inner.find(',', start);
      std::string member = Trim(inner.substr(start, comma - start));
      if (!member.empty())
        v.set.push_back(member);
      else if (comma != std::string::npos)
        Fail(line, "empty set member");
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
    return v;
  }
  if (c == '-' || c == '+' || c == '$' || std::isdigit(static_cast<unsigned char>(c))) {
    v.type = ValueType::Integer;
    bool negative = c == '-';
    std::size_t i = (c == '-' || c == '+') ? 1 : 0;
    if (text.find_first_of(".eE", i) != std::string::npos && text.find('$') == std::string::npos) {
      // A decimal number with a fraction or an exponent.
      v.type = ValueType::Float;
      const char* first = text.data() + (c == '+' ? 1 : 0);
      auto [end, ec] = std::from_chars(first, text.data() + text.size(), v.real);
      if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v.real) ||
          (c == '+' && text.size() > 1 && text[1] == '-'))
        Fail(line, "invalid number " + text);
      return v;
    }
    int base = 10;
    if (i < text.size() && text[i] == '$') {
      base = 16;
      ++i;
    }
    std::uint64_t magnitude = 0;
    auto [end, ec] = std::from_chars(text.data() + i, text.data() + text.size(), magnitude, base);
    if (ec != std::errc() || end != text.data() + text.size() || i == text.size())
      Fail(line, "invalid number " + text);
    if (magnitude > static_cast<std::uint64_t>(INT64_MAX)) Fail(line, "number out of range");
    v.integer =
        negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
    return v;
  }
  if (IsIdentStart(c)) {
    for (char ch : text)
      if (!IsIdentChar(ch)) Fail(line, "invalid value " + text);
    v.type = ValueType::Identifier;
    v.text = text;
    return v;
  }
  Fail(line, "invalid value " + text);
}

// "object Name: TClass"
std::unique_ptr<Object> ParseHeader(const std::string& rest, int line) {
  auto colon = rest.find(':');
  if (colon == std::string::npos) Fail(line, "expected 'object Name: TClass'");
  auto obj = std::make_unique<Object>();
  obj->line = line;
  obj->name = Trim(rest.substr(0, colon));
  obj->class_name = Trim(rest.substr(colon + 1));
  if (obj->name.empty() || obj->class_name.empty()) Fail(line, "expected 'object Name: TClass'");
  return obj;
}

Assignment ParseAssignment(const std::string& s, int line) {
  auto eq = s.find('=');
  if (eq == std::string::npos) Fail(line, "expected 'Property = value'");
  Assignment a;
  a.line = line;
  a.property = Trim(s.substr(0, eq));
  if (a.property.empty() || !IsIdentStart(a.property[0])) Fail(line, "missing property name");
  a.value = ParseValue(Trim(s.substr(eq + 1)), line);
  return a;
}

// The lines of a collection value, between "Name = <" and ">":
//
//   Panels = <
//     item
//       Text = 'one'
//     end
//     item
//       Text = 'two'
//     end>
//
// Returns true once the collection is closed.
class CollectionParser {
 public:
  explicit CollectionParser(Assignment& a) : a_(a) {}

  bool Line(const std::string& s, int line) {
    if (s == "item") {
      if (in_item_) Fail(line, "expected 'end' of item");
      a_.value.items.emplace_back();
      in_item_ = true;
      return false;
    }
    if (s == "end" || s == "end>") {
      if (!in_item_) Fail(line, "'end' without 'item'");
      in_item_ = false;
      return s == "end>";
    }
    if (s == ">") {
      if (in_item_) Fail(line, "expected 'end' of item");
      return true;
    }
    if (!in_item_) Fail(line, "expected 'item'");
    Assignment item = ParseAssignment(s, line);
    if (item.value.type == ValueType::Collection) Fail(line, "collections cannot be nested");
    a_.value.items.back().push_back(std::move(item));
    return false;
  }

 private:
  Assignment& a_;
  bool in_item_ = false;
};

std::unique_ptr<Object> Parse(const std::string& text) {
  std::vector<Object*> stack;
  std::unique_ptr<Object> top;
  std::unique_ptr<CollectionParser> collection;
  Assignment* open_collection = nullptr;
  int line = 0;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    auto nl = text.find('\n', pos);
    std::string raw = text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
    pos = nl == std::string::npos ? text.size() + 1 : nl + 1;
    ++line;
    std::string s = Trim(raw);
    if (s.empty() || s.rfind("//", 0) == 0) continue;
    if (collection) {
      if (collection->Line(s, line)) {
        collection.reset();
        open_collection = nullptr;
      }
      continue;
    }
    if (s.rfind("object ", 0) == 0) {
      auto obj = ParseHeader(s.substr(7), line);
      Object* raw_obj = obj.get();
      if (stack.empty()) {
        if (top) Fail(line, "only one outer object is allowed");
        top = std::move(obj);
      } else {
        stack.back()->items.emplace_back(std::move(obj));
      }
      stack.push_back(raw_obj);
      continue;
    }
    if (s == "end") {
      if (stack.empty()) Fail(line, "'end' without 'object'");
      stack.pop_back();
      continue;
    }
    if (stack.empty()) Fail(line, "expected 'object'");
    Assignment a = ParseAssignment(s, line);
    // "<>" is an empty collection; "<" opens one that the next lines fill.
    const bool opens = a.value.type == ValueType::Collection && s.back() == '<';
    auto& item = stack.back()->items.emplace_back(std::move(a));
    if (opens) {
      // The object's items do not grow while its collection is open.
      open_collection = &std::get<Assignment>(item);
      collection = std::make_unique<CollectionParser>(*open_collection);
    }
  }
  if (open_collection) Fail(open_collection->line, "missing '>' of " + open_collection->property);
  if (!top) Fail(line, "no object");
  if (!stack.empty()) Fail(stack.back()->line, "missing 'end' of " + stack.back()->name);
  return top;
}

struct Fixup {
  TComponent* component;
  const TPropInfo* property;
  std::string target;
  int line;
};

class Reader {
 public:
  explicit Reader(TComponent& root) : root_(root) {}

  void Read(const Object& top) {
    if (strcasecmp(root_.ClassName().c_str(), top.class_name.c_str()) != 0)
      Fail(top.line, "class " + top.class_name + " does not match " + root_.ClassName());
    root_.BeginLoading();
    loaded_.push_back(&root_);
    try {
      root_.SetName(top.name);
    } catch (const Exception& e) {
      Fail(top.line, e.what());
    }
    ReadItems(root_, top);
    for (TComponent* c : loaded_) c->EndReading();
    for (const Fixup& f : fixups_) Resolve(f);
    for (TComponent* c : loaded_) c->Loaded();
  }

 private:
  void ReadItems(TComponent& component, const Object& obj) {
    for (const Item& item : obj.items) {
      if (auto* a = std::get_if<Assignment>(&item))
        Assign(component, *a);
      else
        ReadChild(component, *std::get<std::unique_ptr<Object>>(item));
    }
  }

  void ReadChild(TComponent& parent, const Object& obj) {
    const TClassInfo* info = FindClass(obj.class_name);
    if (!info) Fail(obj.line, "unknown class " + obj.class_name);
    if (!info->create) Fail(obj.line, "class " + obj.class_name + " cannot be created");
    TComponent* child = info->create(&root_);
    child->BeginLoading();
    loaded_.push_back(child);
    try {
      child->SetName(obj.name);
      child->SetParentComponent(&parent);
    } catch (const Exception& e) {
      Fail(obj.line, e.what());
    }
    ReadItems(*child, obj);
  }

  void Assign(TComponent& c, const Assignment& a) {
    const TPropInfo* p = c.FindProperty(a.property);
    if (!p) Fail(a.line, "unknown property " + a.property + " of class " + c.ClassName());
    try {
      switch (p->kind) {
        case TPropKind::Component:
          if (a.value.type != ValueType::Identifier) Fail(a.line, "expected a component name");
          fixups_.push_back(Fixup{&c, p, a.value.text, a.line});
          return;
        case TPropKind::Event:
          if (a.value.type != ValueType::Identifier) Fail(a.line, "expected a handler name");
          p->bind(c, root_, a.value.text);
          return;
        case TPropKind::Collection:
          // The items written replace those the collection held.
          if (a.value.type != ValueType::Collection) BadValue(a.line, p->name);
          p->clear(c);
          for (const std::vector<Assignment>& written : a.value.items) {
            TComponent* item = p->add(c);
            for (const Assignment& field : written) Assign(*item, field);
          }
          return;
        default:
          if (!p->set) Fail(a.line, "property " + a.property + " is read-only");
          p->set(c, Convert(*p, a));
      }
    } catch (const ELayoutError&) {
      throw;
    } catch (const std::exception& e) {
      Fail(a.line, e.what());
    }
  }

  static TPropValue Convert(const TPropInfo& p, const Assignment& a) {
    const Value& v = a.value;
    switch (p.kind) {
      case TPropKind::Integer:
        if (v.type == ValueType::Integer) return v.integer;
        if (v.type == ValueType::Identifier) {
          std::int64_t n;
          if (!p.integer_type.empty() && IdentToInteger(p.integer_type, v.text, n)) return n;
        }
        BadValue(a.line, p.name);
      case TPropKind::Float:
        if (v.type == ValueType::Integer) return static_cast<double>(v.integer);
        if (v.type == ValueType::Float) return v.real;
        BadValue(a.line, p.name);
      case TPropKind::String:
        if (v.type != ValueType::String) BadValue(a.line, p.name);
        return v.text;
      case TPropKind::Boolean:
        if (v.type == ValueType::Identifier) {
          if (strcasecmp(v.text.c_str(), "True") == 0) return true;
          if (strcasecmp(v.text.c_str(), "False") == 0) return false;
        }
        BadValue(a.line, p.name);
      case TPropKind::Enum:
        if (v.type == ValueType::Identifier)
          for (std::size_t i = 0; i < p.names.size(); ++i)
            if (strcasecmp(p.names[i].c_str(), v.text.c_str()) == 0)
              return static_cast<std::int64_t>(i);
        BadValue(a.line, p.name);
      case TPropKind::Set: {
        if (v.type != ValueType::Set) BadValue(a.line, p.name);
        TPropSet set;
        for (const std::string& m : v.set) {
          std::size_t i = 0;
          while (i < p.names.size() && strcasecmp(p.names[i].c_str(), m.c_str()) != 0) ++i;
          if (i == p.names.size() || i >= 32) Fail(a.line, "unknown set member " + m);
          set.bits |= 1u << i;
        }
        return set;
      }
      default:
        BadValue(a.line, p.name);
    }
  }

  void Resolve(const Fixup& f) {
    TComponent* target = nullptr;
    if (strcasecmp(f.target.c_str(), "nil") != 0) {
      target = strcasecmp(f.target.c_str(), root_.GetName().c_str()) == 0
                   ? &root_
                   : root_.FindComponent(f.target);
      if (!target) Fail(f.line, "component " + f.target + " not found");
    }
    try {
      f.property->set(*f.component, target);
    } catch (const std::exception& e) {
      Fail(f.line, e.what());
    }
  }

  TComponent& root_;
  std::vector<TComponent*> loaded_;
  std::vector<Fixup> fixups_;
};

}  // namespace

void ReadLayout(TComponent& root, const std::string& text) {
  std::unique_ptr<Object> top = Parse(text);
  Reader(root).Read(*top);
}
