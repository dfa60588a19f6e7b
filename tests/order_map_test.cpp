// The order-number map and its per-day file: what loading reads, what a new
// code adds, and that numbers are never handed to a second code.

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ZR_QuantApi.h"
#include "order_files.h"

using testing_support::ReadFile;
using testing_support::RemoveOrderFiles;
using testing_support::TodaysOrderFile;
using testing_support::WriteFile;

namespace {

class OrderMap : public ::testing::Test {
 protected:
  void SetUp() override { RemoveOrderFiles(); }
  void TearDown() override { RemoveOrderFiles(); }
};

using Codes = std::map<std::string, long long>;

// Both directions of the map agree and hold exactly `codes`.
void ExpectMaps(const TraderApiGo& api, const Codes& codes) {
  EXPECT_EQ(api.mapOrderId, codes);
  std::map<long long, std::string> numbers;
  for (const auto& code : codes) numbers[code.second] = code.first;
  EXPECT_EQ(api.mapOrderCode, numbers);
}

struct LoadCase {
  const char* name;
  const char* file;  // null: no file
  Codes codes;
  long long next;
  const char* rewritten;  // the file afterwards
};

TEST_F(OrderMap, LoadingReadsTheFileAndRewritesItSorted) {
  const LoadCase cases[] = {
      {"no file", nullptr, {}, 0, "(missing)"},
      {"empty file", "", {}, 0, ""},
      {"three codes", "0 A\n1 B\n2 C\n", {{"A", 0}, {"B", 1}, {"C", 2}}, 3, "0 A\n1 B\n2 C\n"},
      {"any line order", "7 H\n2 C\n5 F\n", {{"C", 2}, {"F", 5}, {"H", 7}}, 8, "2 C\n5 F\n7 H\n"},
      {"number alone keeps the number taken", "0 A\n4 \n", {{"A", 0}}, 5, "0 A\n4 \n"},
      {"unfinished last line", "0 A\n1 B", {{"A", 0}}, 1, "0 A\n"},
      {"unreadable lines", "x 1\n\n  \n+ Q\n3 C\n", {{"C", 3}}, 4, "3 C\n"},
      {"negative numbers", "-3 N\n", {{"N", -3}}, 0, "-3 N\n"},
      {"white space around", "  12\tL  tail\r\n", {{"L", 12}}, 13, "12 L\n"},
      {"carriage return ends the code", "3 C\r\n", {{"C", 3}}, 4, "3 C\n"},
      {"later line wins", "1 A\n1 B\n", {{"A", 1}, {"B", 1}}, 2, "1 B\n"},
      {"out of range", "99999999999999999999 Z\n1 A\n", {{"A", 1}}, 2, "1 A\n"},
      {"largest number", "9223372036854775807 Z\n", {}, 0, ""},
  };
  for (const LoadCase& c : cases) {
    SCOPED_TRACE(c.name);
    RemoveOrderFiles();
    if (c.file != nullptr) WriteFile(TodaysOrderFile(), c.file);
    TraderApiGo api;
    api.LoadOrderMap();
    EXPECT_EQ(api.mapOrderId, c.codes);
    EXPECT_EQ(api.iNextOrderId, c.next);
    EXPECT_EQ(ReadFile(TodaysOrderFile()), c.rewritten);
  }
}

TEST_F(OrderMap, NewCodesAreNumberedInTurnAndAppendedAsOneLineEach) {
  TraderApiGo api;
  api.LoadOrderMap();
  EXPECT_EQ(api.GenSaveOrderId("A"), 0);
  EXPECT_EQ(ReadFile(TodaysOrderFile()), "0 A\n");
  EXPECT_EQ(api.GetOrderId("B"), 1);
  EXPECT_EQ(api.GenSaveOrderId("B"), 1);
  EXPECT_EQ(api.GetOrderId("A"), 0);
  EXPECT_EQ(api.GenSaveOrderId("C"), 2);
  EXPECT_EQ(ReadFile(TodaysOrderFile()), "0 A\n1 B\n2 C\n");
  ExpectMaps(api, {{"A", 0}, {"B", 1}, {"C", 2}});
  EXPECT_EQ(api.iNextOrderId, 3);

  // A known code does not touch the file.
  std::remove(TodaysOrderFile().c_str());
  EXPECT_EQ(api.GetOrderId("B"), 1);
  EXPECT_EQ(ReadFile(TodaysOrderFile()), "(missing)");
  // A file gone behind the object's back is written whole at the next code.
  EXPECT_EQ(api.GetOrderId("D"), 3);
  EXPECT_EQ(ReadFile(TodaysOrderFile()), "0 A\n1 B\n2 C\n3 D\n");
  // So is one replaced by another.
  WriteFile(TodaysOrderFile(), "0 A\n");
  EXPECT_EQ(api.GetOrderId("E"), 4);
  EXPECT_EQ(ReadFile(TodaysOrderFile()), "0 A\n1 B\n2 C\n3 D\n4 E\n");
}

TEST_F(OrderMap, ARestartOnTheSameDayGivesTheSameNumbers) {
  {
    TraderApiGo before;
    before.LoadOrderMap();
    for (const char* code : {"A", "B", "C"}) before.GenSaveOrderId(code);
  }
  TraderApiGo after;
  after.LoadOrderMap();
  ExpectMaps(after, {{"A", 0}, {"B", 1}, {"C", 2}});
  EXPECT_EQ(after.GetOrderId("B"), 1);
  EXPECT_EQ(after.GetOrderId("D"), 3);
  EXPECT_EQ(ReadFile(TodaysOrderFile()), "0 A\n1 B\n2 C\n3 D\n");
}

TEST_F(OrderMap, ASecondLoadKeepsWhatIsHeldAndNeverLowersTheNextNumber) {
  TraderApiGo api;
  for (const char* code : {"A", "B", "C", "D"}) api.GenSaveOrderId(code);
  WriteFile(TodaysOrderFile(), "0 A\n9 Z\n");
  api.LoadOrderMap();
  EXPECT_EQ(api.iNextOrderId, 10);
  EXPECT_EQ(ReadFile(TodaysOrderFile()), "0 A\n1 B\n2 C\n3 D\n9 Z\n");

  WriteFile(TodaysOrderFile(), "0 A\n");
  api.LoadOrderMap();
  EXPECT_EQ(api.iNextOrderId, 10);
  EXPECT_EQ(api.GenSaveOrderId("E"), 10);
  ExpectMaps(api, {{"A", 0}, {"B", 1}, {"C", 2}, {"D", 3}, {"Z", 9}, {"E", 10}});
}

TEST_F(OrderMap, CodesTheFileCannotHoldKeepTheirNumberTakenAcrossARestart) {
  TraderApiGo before;
  const char* codes[] = {"A", "two words", "", "tab\there", "B"};
  for (long long i = 0; i < 5; ++i) EXPECT_EQ(before.GenSaveOrderId(codes[i]), i);
  EXPECT_EQ(before.GetOrderId("two words"), 1);  // usable in memory
  EXPECT_EQ(before.GetAppointOrderCode(3), "tab\there");
  EXPECT_EQ(ReadFile(TodaysOrderFile()), "0 A\n1 \n2 \n3 \n4 B\n");

  TraderApiGo after;
  after.LoadOrderMap();
  EXPECT_EQ(after.mapOrderId, (Codes{{"A", 0}, {"B", 4}}));
  EXPECT_EQ(after.GetAppointOrderCode(1), "");
  EXPECT_EQ(after.GenSaveOrderId("two words"), 5);
  // The numbers stay taken through any number of restarts.
  EXPECT_EQ(ReadFile(TodaysOrderFile()), "0 A\n1 \n2 \n3 \n4 B\n5 \n");
}

TEST_F(OrderMap, LookingUpANumberEntersNothing) {
  TraderApiGo api;
  api.GenSaveOrderId("A");
  EXPECT_EQ(api.GetAppointOrderCode(0), "A");
  EXPECT_EQ(api.GetAppointOrderCode(7), "");
  EXPECT_EQ(api.GetAppointOrderCode(-1), "");
  api.GenSaveOrderId("B");
  ExpectMaps(api, {{"A", 0}, {"B", 1}});
  EXPECT_EQ(ReadFile(TodaysOrderFile()), "0 A\n1 B\n");
}

TEST_F(OrderMap, SaveRewritesTheWholeFile) {
  TraderApiGo api;
  api.GenSaveOrderId("A");
  api.GenSaveOrderId("B");
  WriteFile(TodaysOrderFile(), "garbage");
  api.SaveOrderMap();
  EXPECT_EQ(ReadFile(TodaysOrderFile()), "0 A\n1 B\n");
  EXPECT_EQ(api.GenSaveOrderId("C"), 2);
  EXPECT_EQ(ReadFile(TodaysOrderFile()), "0 A\n1 B\n2 C\n");
}

// The local date follows TZ; two zones 26 hours apart never share a date.
class LocalZone {
 public:
  explicit LocalZone(const char* zone) {
    const char* old = std::getenv("TZ");
    had_ = old != nullptr;
    if (had_) old_ = old;
    Set(zone);
  }
  ~LocalZone() {
    if (had_) {
      Set(old_.c_str());
    } else {
      unsetenv("TZ");
      tzset();
    }
  }
  static void Set(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
  }

 private:
  bool had_ = false;
  std::string old_;
};

TEST_F(OrderMap, ThePastMidnightSaveWritesEveryEntryIntoTheNewDaysFile) {
  LocalZone zone("UTC-14");
  const std::string yesterday = TodaysOrderFile();
  TraderApiGo api;
  api.GenSaveOrderId("A");
  api.GenSaveOrderId("B");
  LocalZone::Set("UTC+12");
  const std::string today = TodaysOrderFile();
  ASSERT_NE(today, yesterday);
  api.GenSaveOrderId("C");
  EXPECT_EQ(ReadFile(yesterday), "0 A\n1 B\n");
  EXPECT_EQ(ReadFile(today), "0 A\n1 B\n2 C\n");
  api.GenSaveOrderId("D");
  EXPECT_EQ(ReadFile(today), "0 A\n1 B\n2 C\n3 D\n");
}

TEST_F(OrderMap, ConcurrentNewCodesGetDistinctNumbersAndAllReachTheFile) {
  TraderApiGo api;
  constexpr int kPerThread = 500;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&api, t] {
      for (int i = 0; i < kPerThread; ++i) {
        // Every thread meets the shared codes too.
        api.GetOrderId("shared" + std::to_string(i));
        api.GenSaveOrderId("t" + std::to_string(t) + "-" + std::to_string(i));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  std::set<long long> numbers;
  for (const auto& code : api.mapOrderId) numbers.insert(code.second);
  EXPECT_EQ(numbers.size(), 5u * kPerThread);
  EXPECT_EQ(*numbers.rbegin(), 5 * kPerThread - 1);
  TraderApiGo reloaded;
  reloaded.LoadOrderMap();
  EXPECT_EQ(reloaded.mapOrderId, api.mapOrderId);
  EXPECT_EQ(reloaded.mapOrderCode, api.mapOrderCode);
}

}  // namespace
