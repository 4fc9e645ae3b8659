// The built manual pages: every page is there, and the parameter reference
// names every value of the parameters module as a heading of its own.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "service/parameters/column_switches.h"
#include "service/parameters/parameters.h"

namespace corvane::parameters {
namespace {

std::string Page(const std::string& name) {
  std::ifstream in(std::filesystem::path(CORVANE_MAN_DIR) / name);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(ManPages, AreBuiltAndTheParameterReferenceListsEveryParameter) {
  for (const char* page : {"corvane-run.1", "corvane-reg.1", "dsimport.1", "CorvaneService.8", "corvane-parameters.5"})
    EXPECT_NE(Page(page).find(".SH NAME"), std::string::npos) << page << " was not built";
  const std::string reference = Page("corvane-parameters.5");
  auto listed = [&](std::string_view name) {
    return reference.find("\n\\fB" + std::string(name) + "\\fR\n") != std::string::npos;
  };
  for (const auto& p : AllParameters()) EXPECT_TRUE(listed(p.name)) << p.name;
  for (const auto& box : kColumnBoxes) EXPECT_TRUE(listed(box.ParameterName())) << box.ParameterName();
}

}  // namespace
}  // namespace corvane::parameters
