#include "service/parameters/parameters.h"

#include <gtest/gtest.h>

#include "service/parameters/column_switches.h"

namespace corvane::parameters {
namespace {

TEST(DateTimeEncoding, StoredFormIsMonthFirstUnpaddedWith24HourClock) {
  EXPECT_EQ(FormatStoredDateTime({2007, 6, 15, 14, 5, 7}), "6-15-2007 14:5:7 PM");
  EXPECT_EQ(FormatStoredDateTime({2008, 1, 2, 9, 3, 0}), "1-2-2008 9:3:0 AM");
  EXPECT_EQ(FormatStoredDateTime({2027, 1, 1, 12, 0, 0}), "1-1-2027 12:0:0 PM");
  EXPECT_EQ(FormatStoredDateTime({2027, 1, 1, 0, 5, 30}), "1-1-2027 0:5:30 AM");
  EXPECT_EQ(FormatStoredDateTime({2026, 3, 5, 14, 7, 9}), "3-5-2026 14:7:9 PM");
}

TEST(DateTimeEncoding, ReadsBackEveryStoredFormAndTheDefaults) {
  for (DateTime dt : {DateTime{2007, 6, 15, 14, 5, 7}, DateTime{2008, 1, 2, 9, 3, 0}, DateTime{2027, 1, 1, 12, 0, 0},
                      DateTime{2027, 1, 1, 0, 5, 30}, DateTime{2024, 2, 29, 23, 59, 59}}) {
    EXPECT_EQ(ParseDateTime(FormatStoredDateTime(dt)), dt) << FormatStoredDateTime(dt);
  }
  // The slash defaults use a 12-hour clock.
  EXPECT_EQ(ParseDateTime("01/01/1990 11:25:31 AM"), (DateTime{1990, 1, 1, 11, 25, 31}));
  EXPECT_EQ(ParseDateTime("01/01/2000 12:00:00 AM"), (DateTime{2000, 1, 1, 0, 0, 0}));
  EXPECT_EQ(ParseDateTime("12/7/2026 1:05:03 PM"), (DateTime{2026, 12, 7, 13, 5, 3}));
  EXPECT_EQ(ParseDateTime("6-15-2007"), (DateTime{2007, 6, 15, 0, 0, 0}));
}

TEST(DateTimeEncoding, RejectsWhatIsNotADateTime) {
  for (const char* bad : {"", "garbage", "13-1-2007 1:0:0 AM", "2-30-2007 1:0:0 AM", "6-15-2007 24:0:0",
                          "6-15-2007 14:5:7 XM", "6-15-2007 14:60:0 PM", "6/15"}) {
    EXPECT_FALSE(ParseDateTime(bad).has_value()) << bad;
  }
}

TEST(DateTimeEncoding, LogFormsArePaddedWhereTheyShouldBe) {
  EXPECT_EQ(FormatDefaultDateTime({2026, 12, 7, 10, 5, 3}), "12/7/2026 10:05:03 AM");
  EXPECT_EQ(FormatDefaultDateTime({2026, 12, 7, 0, 0, 0}), "12/7/2026 12:00:00 AM");
  EXPECT_EQ(FormatDefaultDateTime({2026, 12, 7, 12, 30, 0}), "12/7/2026 12:30:00 PM");
  EXPECT_EQ(FormatDefaultDateTime({2026, 12, 7, 23, 1, 2}), "12/7/2026 11:01:02 PM");
  EXPECT_EQ(FormatFixedDateTime({2007, 6, 15, 14, 5, 7}), "06-15-2007 14:05:07");
}

TEST(DateTimeEncoding, LocalTimeConversionRoundTrips) {
  DateTime dt{2026, 12, 7, 10, 5, 3};
  EXPECT_EQ(ToDateTime(ToTimeT(dt)), dt);
}

TEST(Switches, OnlyTheirOwnTextsCountAsOn) {
  EXPECT_TRUE(SwitchOn("1"));
  for (const char* off : {"0", "", "True", "2", " 1"}) EXPECT_FALSE(SwitchOn(off)) << off;
  EXPECT_TRUE(UseAltProfileOn(""));
  EXPECT_TRUE(UseAltProfileOn("1"));
  EXPECT_TRUE(UseAltProfileOn("anything"));
  EXPECT_FALSE(UseAltProfileOn("0"));
  EXPECT_EQ(ToBoolean("True"), true);
  EXPECT_EQ(ToBoolean("false"), false);
  EXPECT_EQ(ToBoolean("-1"), true);
  EXPECT_EQ(ToBoolean("0"), false);
  EXPECT_EQ(ToBoolean("yes"), std::nullopt);
  EXPECT_FALSE(BooleanOn(""));
}

TEST(Numbers, SixteenBitWholeNumbers) {
  EXPECT_EQ(ToInt16("10"), 10);
  EXPECT_EQ(ToInt16(" -3 "), -3);
  EXPECT_EQ(ToInt16("32767"), 32767);
  EXPECT_EQ(ToInt16("32768"), std::nullopt);
  EXPECT_EQ(ToInt16(""), std::nullopt);
  EXPECT_EQ(ToInt16("1.5"), std::nullopt);
  EXPECT_EQ(ToInt16("abc"), std::nullopt);
}

TEST(Publishing, ModeAndThresholdTexts) {
  EXPECT_EQ(ToPublishMode(""), PublishMode::Rebuild);
  EXPECT_EQ(ToPublishMode(" Swap "), PublishMode::Swap);
  EXPECT_EQ(ToPublishMode("swp"), std::nullopt);
  const struct {
    const char* text;
    bool valid;
    std::optional<double> percent;
  } thresholds[] = {{"", true, std::nullopt}, {" 10 ", true, 10}, {"12.5%", true, 12.5}, {"0", true, 0},
                    {"100", true, 100},       {"101", false, {}},  {"-1", false, {}},    {"ten", false, {}},
                    {"%", false, {}}};
  for (const auto& t : thresholds) {
    EXPECT_EQ(ToShrinkThreshold(t.text).valid, t.valid) << t.text;
    EXPECT_EQ(ToShrinkThreshold(t.text).percent, t.percent) << t.text;
  }
}

TEST(Lists, SplitAndJoin) {
  EXPECT_EQ(JoinList({2, 3, 4, 5, 6}), "2,3,4,5,6");
  EXPECT_EQ(SplitList("2,4"), (std::vector<std::string>{"2", "4"}));
  EXPECT_EQ(SplitList(" 3 , 12"), (std::vector<std::string>{"3", "12"}));
  EXPECT_EQ(SplitList(""), (std::vector<std::string>{""}));
}

TEST(ParameterTable, TypesDefaultsAndColumnSwitchNames) {
  EXPECT_EQ(TypeOf("connectionstring"), registry::ValueType::ExpandString);
  EXPECT_EQ(TypeOf("RunSQLAfterCmd"), registry::ValueType::ExpandString);
  EXPECT_EQ(TypeOf("RunSQLPreParseCmd"), registry::ValueType::String);
  EXPECT_EQ(TypeOf("GIVEN_NAME"), registry::ValueType::String);
  // A switch the wizard writes for the caption COMMENT is the tag of the box captioned COM.
  EXPECT_EQ(kColumnBoxes[42].caption, "COM");
  EXPECT_EQ(kColumnBoxes[42].ParameterName(), "COMMENT");
  EXPECT_EQ(kColumnBoxes[0].ParameterName(), "GIVEN_NAME");
  EXPECT_EQ(kColumnBoxes[43].ParameterName(), "PERSONAL_HOME_PAGE");
}

}  // namespace
}  // namespace corvane::parameters
