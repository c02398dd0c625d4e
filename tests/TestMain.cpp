// The main of the GoogleTest programs: GoogleTest's own, and for each test
// that skips, one line that CTest takes as a label of that test,
//   <CTestLabel>skipped Suite.Name: reason</CTestLabel>
// CTest prints no output of a skipped test, but it lists every label in
// its closing "Label Time Summary", so the reason shows there.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

class SkipReasonLabels : public testing::EmptyTestEventListener {
  void OnTestEnd(const testing::TestInfo& test) override {
    const testing::TestResult& result = *test.result();
    if (!result.Skipped()) return;
    std::string reason;
    for (int i = 0; i < result.total_part_count(); ++i) {
      const testing::TestPartResult& part = result.GetTestPartResult(i);
      if (!part.skipped()) continue;
      if (!reason.empty()) reason += "; ";
      reason += part.message();
    }
    // One line: CTest reads a label up to its closing tag.
    for (char& c : reason) {
      if (c == '\n' || c == '\r') c = ' ';
    }
    while (!reason.empty() && reason.back() == ' ') reason.pop_back();
    if (reason.empty()) reason = "no reason given";
    std::printf("<CTestLabel>skipped %s.%s: %s</CTestLabel>\n", test.test_suite_name(), test.name(), reason.c_str());
    std::fflush(stdout);
  }
};

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // The listener list owns what it is given.
  testing::UnitTest::GetInstance()->listeners().Append(new SkipReasonLabels);
  return RUN_ALL_TESTS();
}
