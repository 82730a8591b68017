#pragma once

#include <cstdint>
#include <string>

#include "platform/framework/exception.h"

// A value that cannot be converted as asked.
class EVariantError : public Exception {
 public:
  using Exception::Exception;
};

enum TVariantType : std::uint8_t {
  vtEmpty,
  vtNull,
  vtInt16,
  vtInt32,
  vtByte,
  vtSingle,
  vtDouble,
  vtCurrency,    // 64-bit integer scaled by 10000
  vtDate,        // date-time as a double
  vtWideString,  // UTF-8
  vtString,      // UTF-8
  vtBoolean,
};

// A small tagged value: the types the placement store dispatches on.
class TVariant {
 public:
  TVariant() = default;  // empty
  TVariant(std::int16_t v) : type_(vtInt16), int_(v) {}
  TVariant(std::int32_t v) : type_(vtInt32), int_(v) {}
  TVariant(std::uint8_t v) : type_(vtByte), int_(v) {}
  TVariant(float v) : type_(vtSingle), real_(v) {}
  TVariant(double v) : type_(vtDouble), real_(v) {}
  TVariant(bool v) : type_(vtBoolean), int_(v ? 1 : 0) {}
  TVariant(std::string v) : type_(vtString), text_(std::move(v)) {}
  TVariant(const char* v) : type_(vtString), text_(v) {}

  static TVariant Null() { return TVariant(vtNull); }
  // `scaled` is the amount times 10000.
  static TVariant Currency(std::int64_t scaled);
  static TVariant DateTime(double value);
  static TVariant WideString(std::string utf8);

  TVariantType VarType() const { return type_; }
  bool IsEmpty() const { return type_ == vtEmpty; }
  bool IsNull() const { return type_ == vtNull; }

  // Conversions. Numbers convert among each other (reals and currency round to the
  // nearest integer, halves away from zero); Boolean is 0/1 (any non-zero is true);
  // strings convert to numbers only when they are a whole decimal number. Empty gives
  // 0, "" or false. Null, non-numeric text and values out of range raise EVariantError.
  std::int32_t AsInteger() const;
  double AsDouble() const;
  std::int64_t AsCurrency() const;  // scaled by 10000
  bool AsBoolean() const;
  std::string AsString() const;

  // Same type and same value.
  bool operator==(const TVariant& other) const;

 private:
  explicit TVariant(TVariantType type) : type_(type) {}

  TVariantType type_ = vtEmpty;
  std::int64_t int_ = 0;  // integer types, Boolean, currency (scaled)
  double real_ = 0;       // single, double, date
  std::string text_;
};
