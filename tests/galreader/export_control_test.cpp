// The export's report as one line of the control file, both ways.
#include "galreader/export_control.h"

#include <gtest/gtest.h>

namespace corvane::galreader {
namespace {

using State = ExportReport::State;

TEST(ExportReport, IsOneLineThatReadsBackAsWritten) {
  const ExportReport complete{State::Complete, 3, 3, 2, 1, ""};
  EXPECT_EQ(FormatExportReport(complete), "complete count=3 read=3 written=2 left-out=1\n");
  const ExportReport cut{State::CutShort, 120, 50, 50, 0, "lpContents->QueryRows failed:\nline 7"};
  EXPECT_EQ(FormatExportReport(cut),
            "cut-short count=120 read=50 written=50 left-out=0 cause=lpContents->QueryRows failed: line 7\n");
  const ExportReport shortened{State::Complete, 3, 3, 3, 0, "", 2};
  EXPECT_EQ(FormatExportReport(shortened), "complete count=3 read=3 written=3 left-out=0 shortened=2\n");
  for (const auto& report : {complete, cut, shortened, ExportReport{State::Stopped, 9, 0, 0, 0, ""}}) {
    auto expected = report;
    for (char& c : expected.cause) c = c == '\n' ? ' ' : c;
    EXPECT_EQ(ParseExportReport(FormatExportReport(report)), expected);
  }
  for (const char* notAReport : {"", "stop\n", "complete count=3 read=3 written=2\n", "complete count=3 read=x "
                                 "written=2 left-out=1\n", "done count=1 read=1 written=1 left-out=0\n",
                                 "complete count=3 read=3 written=2 left-out=1"})
    EXPECT_EQ(ParseExportReport(notAReport), std::nullopt) << notAReport;
}

}  // namespace
}  // namespace corvane::galreader
