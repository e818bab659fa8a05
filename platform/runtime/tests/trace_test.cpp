#include "media/contract/trace.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/testenv.h"

namespace {

using tav::trace::Category;

TAV_TRACE_SOURCE(kVideoKit, "resizer");

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Each test sets the two variables, traces into its own file and puts the switch back.
class TraceTest : public testing::Test {
 protected:
  void Switch(const char* setting) {
    path_ = tavtest::MakeTempSubdir("trace") + "/trace.log";
    setenv("TAVRION_TRACE", setting, 1);
    setenv("TAVRION_TRACE_FILE", path_.c_str(), 1);
    tav::trace::Reload();
  }
  void TearDown() override {
    unsetenv("TAVRION_TRACE");
    unsetenv("TAVRION_TRACE_FILE");
    tav::trace::Reload();
  }
  std::string path_;
};

TEST_F(TraceTest, Setting_SwitchesNamedCategories_AllAndExclusions) {
  struct Case {
    const char* setting;
    std::vector<Category> on;
    std::vector<Category> off;
  };
  const Case cases[] = {
      {"", {}, {Category::kCom, Category::kGraph, Category::kUi}},
      {"graph,exporter", {Category::kGraph, Category::kExporter}, {Category::kCom, Category::kFilters}},
      {" Graph , COM ", {Category::kGraph, Category::kCom}, {Category::kRegistry}},
      {"all", {Category::kCom, Category::kMessages, Category::kUi, Category::kEngine}, {}},
      {"all,-messages", {Category::kCom, Category::kUi}, {Category::kMessages}},
      // A name a word longer or shorter than a category switches nothing on.
      {"graphs,expo", {}, {Category::kGraph, Category::kExporter}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.setting);
    Switch(c.setting);
    for (Category on : c.on) EXPECT_TRUE(tav::trace::On(on)) << tav::trace::CategoryName(on);
    for (Category off : c.off) EXPECT_FALSE(tav::trace::On(off)) << tav::trace::CategoryName(off);
  }
}

TEST_F(TraceTest, UnknownName_IsReportedOnce_WithTheKnownOnes) {
  Switch("graph,grpah");
  EXPECT_TRUE(tav::trace::On(Category::kGraph));
  EXPECT_TRUE(tav::trace::On(Category::kGraph));
  const std::vector<std::string> lines = Lines(ReadAll(path_));
  ASSERT_EQ(lines.size(), 1u) << ReadAll(path_);
  EXPECT_NE(lines[0].find("\"grpah\""), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("exporter"), std::string::npos) << lines[0];
}

TEST_F(TraceTest, Lines_NameCategoryAndSource_AndCostNothingWhenOff) {
  int formatted = 0;
  auto count = [&formatted] { return ++formatted; };

  Switch("graph");
  TAV_TRACE("SetOutputSize(%d)", count());
  EXPECT_EQ(formatted, 0) << "arguments of a switched-off category are not evaluated";
  EXPECT_EQ(ReadAll(path_), "");

  Switch("videokit");
  TAV_TRACE("SetOutputSize(%d, %d)", 240, count());
  tav::trace::Text({Category::kVideoKit, nullptr}, "already formatted\n");
  EXPECT_EQ(formatted, 1);
  const std::vector<std::string> lines = Lines(ReadAll(path_));
  ASSERT_EQ(lines.size(), 2u) << ReadAll(path_);
  EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(\d\d:\d\d:\d\d\.\d{3} \[\d+\] videokit/resizer: SetOutputSize\(240, 1\))")))
      << lines[0];
  EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"(.* \[\d+\] videokit: already formatted)"))) << lines[1];
}

TEST_F(TraceTest, LinesOfManyThreads_StayWhole) {
  Switch("all");
  const std::string payload(300, 'x');
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t, &payload] {
      for (int i = 0; i < 200; ++i) TAV_TRACE("thread %d line %d %s", t, i, payload.c_str());
    });
  for (std::thread& thread : threads) thread.join();
  const std::vector<std::string> lines = Lines(ReadAll(path_));
  ASSERT_EQ(lines.size(), 800u);
  const std::regex whole(R"(.* videokit/resizer: thread [0-3] line \d+ x{300})");
  for (const std::string& line : lines) ASSERT_TRUE(std::regex_match(line, whole)) << line;
}

TEST_F(TraceTest, NumberedFile_WritesNumberedUtcLines_OnlyWhenSwitchedOn) {
  Switch("exporter");
  const std::string own = tavtest::MakeTempSubdir("numbered") + "/camexp.txt";
  {
    tav::trace::NumberedFile trace({Category::kExporter, "worker"}, own);
    trace.Write("before");
    std::ifstream absent(own);
    EXPECT_FALSE(absent.good()) << "a switched-off trace file is not created";
    trace.SwitchOn(true);
    trace.Write("Dubber started");
    trace.Write("Thread exit");
  }
  const std::regex numbered(R"(   1 \| [ 12]\d:\d\d:\d\d\.\d{3} Dubber started\r\n   2 \| [ 12]\d:\d\d:\d\d\.\d{3} Thread exit\r\n)");
  EXPECT_TRUE(std::regex_match(ReadAll(own), numbered)) << ReadAll(own);
  // The common trace has every message, including the one before the file was on.
  const std::vector<std::string> lines = Lines(ReadAll(path_));
  ASSERT_EQ(lines.size(), 3u) << ReadAll(path_);
  EXPECT_NE(lines[0].find("exporter/worker: before"), std::string::npos) << lines[0];
}

}  // namespace
