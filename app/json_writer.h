#pragma once

#include <string>
#include <vector>

// Writes one JSON document: values, arrays and objects in the order given,
// with the commas between them. A number that is not finite becomes null.
class JsonWriter {
 public:
  JsonWriter& BeginObject() { return Open('{'); }
  JsonWriter& EndObject() { return Close('}'); }
  JsonWriter& BeginArray() { return Open('['); }
  JsonWriter& EndArray() { return Close(']'); }
  // The name of the next value of the object being written.
  JsonWriter& Key(const std::string& name);
  JsonWriter& String(const std::string& value);
  JsonWriter& Number(double value);
  JsonWriter& Integer(long long value);
  JsonWriter& Bool(bool value);
  JsonWriter& Null();

  const std::string& Text() const { return text_; }

 private:
  void BeforeValue();
  JsonWriter& Open(char bracket);
  JsonWriter& Close(char bracket);
  void Quote(const std::string& value);

  std::string text_;
  // One entry per open array or object: whether it holds a value yet.
  std::vector<bool> filled_;
  bool after_key_ = false;
};
