// The order-number map and its per-day file: what loading reads, what a new
// code adds, and that numbers are never handed to a second code.

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ZR_QuantApi.h"
#include "order_files.h"
#include "veltrane_counters.h"

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

// No number stands for two codes, and every code's number holds it.
void ExpectOneCodePerNumber(const TraderApiGo& api) {
  std::set<long long> numbers;
  for (const auto& code : api.mapOrderId) {
    EXPECT_TRUE(numbers.insert(code.second).second) << "number " << code.second << " twice";
    const auto entry = api.mapOrderCode.find(code.second);
    ASSERT_NE(entry, api.mapOrderCode.end()) << code.first;
    EXPECT_EQ(entry->second, code.first);
  }
}

struct LoadCase {
  const char* name;
  const char* file;  // null: no file
  Codes codes;
  long long next;
};

TEST_F(OrderMap, LoadingReadsTheFileAndLeavesItAsItIs) {
  constexpr long long kLast = 9223372036854775806;  // one below the largest 64-bit number
  const LoadCase cases[] = {
      {"no file", nullptr, {}, 0},
      {"empty file", "", {}, 0},
      {"three codes", "0 A\n1 B\n2 C\n", {{"A", 0}, {"B", 1}, {"C", 2}}, 3},
      {"any line order", "7 H\n2 C\n5 F\n", {{"C", 2}, {"F", 5}, {"H", 7}}, 8},
      {"number alone keeps the number taken", "0 A\n4 \n", {{"A", 0}}, 5},
      {"last line without its newline", "0 A\n1 B", {{"A", 0}, {"B", 1}}, 2},
      {"only a line without newline", "3 C", {{"C", 3}}, 4},
      {"unreadable lines", "x 1\n\n  \n+ Q\n3 C\n", {{"C", 3}}, 4},
      {"negative numbers are skipped", "-3 N\n-1 \n2 B\n", {{"B", 2}}, 3},
      {"white space around", "  12\tL  tail\r\n", {{"L", 12}}, 13},
      {"carriage return ends the code", "3 C\r\n", {{"C", 3}}, 4},
      {"a number on two lines goes to the last", "2 B\n2 C\n", {{"C", 2}}, 3},
      {"and back again", "2 B\n2 C\n2 B\n", {{"B", 2}}, 3},
      {"a number alone takes no code's number", "1 A\n1 \n", {{"A", 1}}, 2},
      {"a code on two lines keeps the first", "2 B\n5 B\n", {{"B", 2}}, 6},
      {"unless the first lost its number", "2 B\n2 C\n5 B\n", {{"B", 5}, {"C", 2}}, 6},
      // A writer killed mid-line leaves a prefix of its code, maybe another.
      {"a torn last line", "0 A1\n1 A12\n2 A1", {{"A1", 0}, {"A12", 1}}, 3},
      {"a torn line another writer ended",
       "0 A1\n1 A12\n2 A1\n3 B\n",
       {{"A1", 0}, {"A12", 1}, {"B", 3}},
       4},
      {"out of range", "99999999999999999999 Z\n1 A\n", {{"A", 1}}, 2},
      {"largest number means none", "9223372036854775807 Z\n", {}, 0},
      {"the last number", "9223372036854775806 X\n", {{"X", kLast}}, kLast + 1},
  };
  for (const LoadCase& c : cases) {
    SCOPED_TRACE(c.name);
    RemoveOrderFiles();
    if (c.file != nullptr) WriteFile(TodaysOrderFile(), c.file);
    TraderApiGo api;
    api.LoadOrderMap();
    EXPECT_EQ(api.mapOrderId, c.codes);
    EXPECT_EQ(api.iNextOrderId, c.next);
    ExpectOneCodePerNumber(api);
    EXPECT_EQ(ReadFile(TodaysOrderFile()), c.file != nullptr ? c.file : "(missing)");
  }
}

// A code on a line whose number no code can have is skipped and counted, as
// a line that cannot be read would be a mistake passing in silence; a number
// alone there (a cancel's of an order that never was) is ours and harmless.
TEST_F(OrderMap, ALineWithANumberNoCodeCanHaveIsCounted) {
  const struct {
    const char* file;
    uint64_t errors;
    const char* error;
  } cases[] = {
      {"-1 X\n0 A\n", 1, "the line \"-1 X\" is skipped: order numbers run from 0 to "},
      {"9223372036854775807 Z\n", 1, "the line \"9223372036854775807 Z\" is skipped"},
      {"-7 \n0 A\n", 0, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    RemoveOrderFiles();
    WriteFile(TodaysOrderFile(), c.file);
    const uint64_t before = veltrane::OrderFileErrors();
    TraderApiGo api;
    api.LoadOrderMap();
    EXPECT_EQ(veltrane::OrderFileErrors() - before, c.errors);
    if (c.error != nullptr) {
      EXPECT_NE(veltrane::LastOrderFileError().find(c.error), std::string::npos)
          << veltrane::LastOrderFileError();
    }
    EXPECT_EQ(api.mapOrderId.count("X") + api.mapOrderId.count("Z"), 0u);
  }
}

TEST_F(OrderMap, AnAppendAfterALineWithoutNewlineStartsALineOfItsOwn) {
  WriteFile(TodaysOrderFile(), "0 A\n1 B");
  TraderApiGo api;
  api.LoadOrderMap();
  EXPECT_EQ(api.GenSaveOrderId("C"), 2);
  EXPECT_EQ(ReadFile(TodaysOrderFile()), "0 A\n1 B\n2 C\n");
  TraderApiGo after;
  after.LoadOrderMap();
  EXPECT_EQ(after.mapOrderId, (Codes{{"A", 0}, {"B", 1}, {"C", 2}}));
}

TEST_F(OrderMap, NumbersStopBelowTheLargestAndNeverWrap) {
  WriteFile(TodaysOrderFile(), "9223372036854775805 W\n");
  TraderApiGo api;
  api.LoadOrderMap();
  const uint64_t before = veltrane::OrderFileErrors();
  EXPECT_EQ(api.GenSaveOrderId("X"), 9223372036854775806);
  EXPECT_EQ(veltrane::OrderFileErrors(), before);
  // No number is left: new codes get the value that names none, and are
  // not entered, so a lookup by it finds no code.
  for (const char* code : {"Y", "Z"}) {
    EXPECT_EQ(api.GenSaveOrderId(code), LLONG_MAX);
    EXPECT_EQ(api.iNextOrderId, LLONG_MAX);
  }
  EXPECT_EQ(veltrane::OrderFileErrors() - before, 2u);
  EXPECT_NE(veltrane::LastOrderFileError().find("no order number left"), std::string::npos);
  EXPECT_EQ(api.GetAppointOrderCode(LLONG_MAX), "");
  EXPECT_EQ(api.GenSaveOrderId("X"), 9223372036854775806);
  EXPECT_EQ(ReadFile(TodaysOrderFile()), "9223372036854775805 W\n9223372036854775806 X\n");

  TraderApiGo after;
  after.LoadOrderMap();
  EXPECT_EQ(after.iNextOrderId, LLONG_MAX);
  EXPECT_EQ(after.GenSaveOrderId("Y"), LLONG_MAX);
  ExpectMaps(after, {{"W", 9223372036854775805}, {"X", 9223372036854775806}});
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
  // What the file lacks is appended, in the order of the numbers.
  EXPECT_EQ(ReadFile(TodaysOrderFile()), "0 A\n9 Z\n1 B\n2 C\n3 D\n");

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

TEST_F(OrderMap, SaveAppendsWhatTheFileLacksAndKeepsWhatOthersWrote) {
  TraderApiGo api;
  api.GenSaveOrderId("A");
  api.GenSaveOrderId("B");
  WriteFile(TodaysOrderFile(), "garbage\n1 B\n7 Q");
  api.SaveOrderMap();
  EXPECT_EQ(ReadFile(TodaysOrderFile()), "garbage\n1 B\n7 Q\n0 A\n");
  EXPECT_EQ(api.GenSaveOrderId("C"), 8);
  EXPECT_EQ(ReadFile(TodaysOrderFile()), "garbage\n1 B\n7 Q\n0 A\n8 C\n");
  ExpectOneCodePerNumber(api);
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
