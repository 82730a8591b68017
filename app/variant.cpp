#include "app/variant.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace {

std::int64_t ParseWhole(const std::string& text) {
  std::int64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end) {
    throw EVariantError("Could not convert variant of type (String) into type (Integer)");
  }
  return value;
}

std::int64_t RoundToInt64(double value) {
  // 2^63 is exact as a double; NaN fails both comparisons.
  if (!(value > -9223372036854775808.0 && value < 9223372036854775808.0)) {
    throw EVariantError("Invalid variant operation: value out of range");
  }
  return static_cast<std::int64_t>(std::round(value));
}

}  // namespace

TVariant TVariant::Currency(std::int64_t scaled) {
  TVariant v(vtCurrency);
  v.int_ = scaled;
  return v;
}

TVariant TVariant::DateTime(double value) {
  TVariant v(vtDate);
  v.real_ = value;
  return v;
}

TVariant TVariant::WideString(std::string utf8) {
  TVariant v(vtWideString);
  v.text_ = std::move(utf8);
  return v;
}

std::int32_t TVariant::AsInteger() const {
  std::int64_t value = 0;
  switch (type_) {
    case vtEmpty:
      return 0;
    case vtNull:
      throw EVariantError("Could not convert variant of type (Null) into type (Integer)");
    case vtInt16:
    case vtInt32:
    case vtByte:
    case vtBoolean:
      value = int_;
      break;
    case vtCurrency:
      // Round half away from zero on the scaled integer itself.
      value = int_ / 10000;
      if (int_ % 10000 >= 5000) ++value;
      if (int_ % 10000 <= -5000) --value;
      break;
    case vtSingle:
    case vtDouble:
    case vtDate:
      value = RoundToInt64(real_);
      break;
    case vtWideString:
    case vtString:
      value = ParseWhole(text_);
      break;
  }
  if (value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max()) {
    throw EVariantError("Invalid variant operation: value out of range");
  }
  return static_cast<std::int32_t>(value);
}

double TVariant::AsDouble() const {
  switch (type_) {
    case vtSingle:
    case vtDouble:
    case vtDate:
      return real_;
    case vtCurrency:
      return static_cast<double>(int_) / 10000.0;
    case vtWideString:
    case vtString:
      return static_cast<double>(ParseWhole(text_));
    default:
      return AsInteger();
  }
}

std::int64_t TVariant::AsCurrency() const {
  switch (type_) {
    case vtCurrency:
      return int_;
    case vtSingle:
    case vtDouble:
    case vtDate:
      return RoundToInt64(real_ * 10000.0);
    default: {
      const std::int64_t whole =
          (type_ == vtString || type_ == vtWideString) ? ParseWhole(text_) : AsInteger();
      if (whole > std::numeric_limits<std::int64_t>::max() / 10000 ||
          whole < std::numeric_limits<std::int64_t>::min() / 10000) {
        throw EVariantError("Invalid variant operation: value out of range");
      }
      return whole * 10000;
    }
  }
}

bool TVariant::AsBoolean() const {
  switch (type_) {
    case vtSingle:
    case vtDouble:
    case vtDate:
      return real_ != 0;
    case vtCurrency:
      return int_ != 0;
    case vtWideString:
    case vtString:
      if (text_ == "True" || text_ == "true") return true;
      if (text_ == "False" || text_ == "false") return false;
      return ParseWhole(text_) != 0;
    default:
      return AsInteger() != 0;
  }
}

std::string TVariant::AsString() const {
  switch (type_) {
    case vtEmpty:
      return "";
    case vtNull:
      throw EVariantError("Could not convert variant of type (Null) into type (String)");
    case vtWideString:
    case vtString:
      return text_;
    case vtBoolean:
      return int_ != 0 ? "True" : "False";
    case vtSingle:
    case vtDouble:
    case vtDate: {
      char buffer[64];
      const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, real_);
      return ec == std::errc() ? std::string(buffer, end) : std::string();
    }
    case vtCurrency: {
      // Exact: whole part, then the four decimals without trailing zeros.
      const std::uint64_t magnitude =
          int_ < 0 ? 0 - static_cast<std::uint64_t>(int_) : static_cast<std::uint64_t>(int_);
      std::string text = (int_ < 0 ? "-" : "") + std::to_string(magnitude / 10000);
      std::string fraction = std::to_string(magnitude % 10000 + 10000).substr(1);
      while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
      if (!fraction.empty()) text += "." + fraction;
      return text;
    }
    default:
      return std::to_string(int_);
  }
}

bool TVariant::operator==(const TVariant& other) const {
  return type_ == other.type_ && int_ == other.int_ && real_ == other.real_ && text_ == other.text_;
}
