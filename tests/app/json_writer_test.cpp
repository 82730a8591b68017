#include "app/json_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

TEST(JsonWriter, NestsValuesWithCommasEscapesTextAndWritesNullForWhatIsNotANumber) {
  JsonWriter json;
  json.BeginObject().Key("name").String("A \"B\"\\\n\t\x01\x7F\xC3\xA9\xFF\xC2\x85");
  json.Key("list").BeginArray().Integer(1).Number(-3.14159).Bool(false).Null();
  json.BeginObject().EndObject().BeginArray().EndArray().EndArray();
  json.Key("inf").Number(-std::numeric_limits<double>::infinity());
  json.Key("nan").Number(std::nan(""));
  json.EndObject();
  EXPECT_EQ(json.Text(),
            "{\"name\":\"A \\\"B\\\"\\\\\\n\\t\\u0001\\u007f\xC3\xA9\\ufffd\\u0085\","
            "\"list\":[1,-3.1,false,null,{},[]],\"inf\":null,\"nan\":null}");
}
