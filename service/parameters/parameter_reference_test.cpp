#include "service/parameters/parameter_reference.h"

#include <gtest/gtest.h>

#include "service/parameters/parameters.h"

namespace corvane::parameters {
namespace {

// The reference and the parameters module name the same values: a value
// added to one and not the other fails here.
TEST(ParameterReference, DescribesExactlyTheValuesOfTheParametersModule) {
  size_t documented = 0;
  for (const auto& section : ParameterReference()) {
    for (const auto& doc : section.parameters) {
      ++documented;
      EXPECT_FALSE(doc.description.empty()) << doc.name;
      EXPECT_TRUE(IsKnownParameter(doc.name)) << doc.name << " is described but not in AllParameters()";
    }
  }
  for (const auto& p : AllParameters())
    EXPECT_NE(FindParameterDoc(p.name), nullptr) << p.name << " has no description in parameter_reference.cpp";
  EXPECT_EQ(documented, AllParameters().size());
  for (int box = 0; box < kColumnBoxCount; ++box) EXPECT_FALSE(ColumnDescription(box).empty()) << box;
}

TEST(ParameterReference, JudgesEachKindOfText) {
  struct Case {
    const char* name;
    const char* text;
    bool valid;
  };
  for (const Case& c : std::vector<Case>{
           {"NoParse", "1", true},         {"NoParse", "", true},          {"NoParse", "True", false},
           {"DistList", "True", true},     {"DistList", "-1", true},       {"DistList", "yes", false},
           {"ScheduleType", "9", true},    {"ScheduleType", "7", false},   {"ScheduleType", "daily", false},
           {"StartTime", "6-1-2026 2:30:0 AM", true},                      {"StartTime", "2026-06-01", false},
           {"WeekDays", "2,4,6", true},    {"WeekDays", "2,8", false},     {"MonthDay", "32", false},
           {"DISPLAY_NAME", "1", true},    {"display_name", "yes", false}, {"GIVEN_NAME", "", false},
           {"Mailbox", "anything", true},  {"NoSuchValue", "x", true},
           {"PublishMode", "Swap", true},  {"PublishMode", "swp", false},  {"MaxShrinkPercent", "12.5%", true},
           {"MaxShrinkPercent", "110", false},
       }) {
    EXPECT_EQ(!ValueProblem(c.name, c.text).has_value(), c.valid) << c.name << "=" << c.text;
  }
}

TEST(ParameterReference, NamesTheLikelyValueForATypo) {
  EXPECT_FALSE(IsKnownParameter("DISPLAY_NAM"));
  EXPECT_TRUE(IsKnownParameter("connectionstring"));
  EXPECT_EQ(NearestKnownName("DISPLAY_NAM"), "DISPLAY_NAME");
  EXPECT_EQ(NearestKnownName("Shedule_Type"), "ScheduleType");
  EXPECT_EQ(NearestKnownName("EXT1"), "EXTENSION_ATTRIBUTE_1");  // the column's caption
  EXPECT_EQ(NearestKnownName("Colour"), "");
  EXPECT_EQ(UnknownNameWarning("DISPLAY_NAM"), "DISPLAY_NAM is not a value Corvane reads (did you mean DISPLAY_NAME?)");
}

}  // namespace
}  // namespace corvane::parameters
