// Tapes: what is written reads back the same, a cut or damaged record is
// reported and costs only itself and what follows, never altered data; old
// tapes still read, and the feed finds each message's code.

#include "tape.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "market_generator.h"
#include "payload_fields.h"
#include "quote.pb.h"
#include "quote_messages.h"
#include "sim_days.h"
#include "tape_text.h"

namespace {

using sim::QuoteMessage;
using sim::TapeStatus;
using testing_support::Encode;
using testing_support::WriteTape;

std::string TempPath(const char* name) {
  return ::testing::TempDir() + name + std::to_string(getpid()) + ".tape";
}

std::vector<QuoteMessage> ShortDay() {
  sim::MarketSettings settings;
  settings.sessions = {{34200000, 34260000}};
  return testing_support::GenerateDay(settings);
}

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void PutBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Length, name, time, payload length, payload and checksum.
size_t RecordSize(const QuoteMessage& m) {
  return 2 + std::strlen(m.typeName) + 8 + 4 + m.payload.size() + 4;
}

// Reads every record; those returned before the end status. Their type
// names live as long as `reader`.
TapeStatus ReadAll(sim::TapeReader& reader, const std::string& path,
                   std::vector<QuoteMessage>& read, uint64_t* damagedAt = nullptr) {
  std::string error;
  EXPECT_TRUE(reader.Open(path, error)) << error;
  read.clear();
  QuoteMessage m;
  TapeStatus status;
  while ((status = reader.Next(m)) == TapeStatus::kRecord) read.push_back(m);
  if (damagedAt != nullptr) *damagedAt = reader.RecordOffset();
  return status;
}

bool SameRecord(const QuoteMessage& a, const QuoteMessage& b) {
  return std::strcmp(a.typeName, b.typeName) == 0 && a.time == b.time && a.payload == b.payload;
}

TEST(TapeTest, RoundTripKeepsEveryMessageInOrder) {
  std::vector<QuoteMessage> written = ShortDay();
  ASSERT_GT(written.size(), 50u);
  std::string path = TempPath("round");
  WriteTape(path, written);
  sim::TapeReader reader;
  std::string error;
  ASSERT_TRUE(reader.Open(path, error)) << error;
  QuoteMessage read;
  for (const QuoteMessage& m : written) {
    ASSERT_EQ(reader.Next(read), TapeStatus::kRecord);
    EXPECT_STREQ(read.typeName, m.typeName);
    EXPECT_EQ(read.time, m.time);
    EXPECT_EQ(read.payload, m.payload);
    EXPECT_EQ(read.code, m.code);  // found again in the payload
    EXPECT_EQ(read.kind, m.kind);
  }
  EXPECT_EQ(reader.Next(read), TapeStatus::kEnd);
  std::remove(path.c_str());
}

// A writer that died leaves a cut record; those before it stand.
TEST(TapeTest, CutRecordEndsTheTapeAndKeepsTheOthers) {
  std::vector<QuoteMessage> written = ShortDay();
  written.resize(3);
  std::string path = TempPath("cut");
  WriteTape(path, written);
  std::string whole = FileBytes(path);
  size_t lastRecord = whole.size() - RecordSize(written[2]);
  for (size_t cut = lastRecord + 1; cut < whole.size(); ++cut) {
    SCOPED_TRACE(cut);
    PutBytes(path, whole.substr(0, cut));
    sim::TapeReader reader;
    std::string error;
    ASSERT_TRUE(reader.Open(path, error));
    QuoteMessage m;
    ASSERT_EQ(reader.Next(m), TapeStatus::kRecord);
    ASSERT_EQ(reader.Next(m), TapeStatus::kRecord);
    EXPECT_EQ(m.payload, written[1].payload);
    EXPECT_EQ(reader.Next(m), TapeStatus::kTruncated);
  }
  std::remove(path.c_str());
}

// A recording restarted in the day carries the tape on: every whole record
// stays, a record a crash cut short goes, and the new records follow. What
// is not a sound tape of this version is refused and left as it was.
TEST(TapeTest, AppendingKeepsWholeRecordsAndRefusesWhatIsNotATape) {
  std::vector<QuoteMessage> day = ShortDay();
  day.resize(4);
  const std::string path = TempPath("append");
  WriteTape(path, {day[0], day[1]});
  const std::string two = FileBytes(path);
  std::string damaged = two;
  damaged[damaged.size() - 3] ^= 0x40;  // the second record's payload
  std::string versionOne = two;
  versionOne[8] = 1;
  struct Case {
    const char* name;
    bool present;
    std::string bytes;
    size_t kept;  // records before the appended ones; -1: refused
  };
  const Case cases[] = {
      {"no file", false, "", 0},
      {"an empty file", true, "", 0},
      {"a whole tape", true, two, 2},
      {"the last record cut short", true, two.substr(0, two.size() - 5), 1},
      {"a cut header", true, two.substr(0, 6), static_cast<size_t>(-1)},
      {"not a tape", true, "date,code\n", static_cast<size_t>(-1)},
      {"a damaged record", true, damaged, static_cast<size_t>(-1)},
      {"version 1", true, versionOne, static_cast<size_t>(-1)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::remove(path.c_str());
    if (c.present) PutBytes(path, c.bytes);
    sim::TapeWriter writer;
    std::string error;
    const bool opened = writer.OpenToAppend(path, error);
    if (c.kept == static_cast<size_t>(-1)) {
      EXPECT_FALSE(opened);
      EXPECT_FALSE(error.empty());
      EXPECT_EQ(FileBytes(path), c.bytes);
      continue;
    }
    ASSERT_TRUE(opened) << error;
    ASSERT_TRUE(writer.Write(day[2]));
    ASSERT_TRUE(writer.Write(day[3]));
    ASSERT_TRUE(writer.Close(error)) << error;
    sim::TapeReader reader;
    std::vector<QuoteMessage> read;
    EXPECT_EQ(ReadAll(reader, path, read), TapeStatus::kEnd);
    std::vector<QuoteMessage> expected(day.begin(), day.begin() + c.kept);
    expected.push_back(day[2]);
    expected.push_back(day[3]);
    ASSERT_EQ(read.size(), expected.size());
    for (size_t i = 0; i < read.size(); ++i) EXPECT_TRUE(SameRecord(read[i], expected[i])) << i;
  }
  std::remove(path.c_str());
}

TEST(TapeTest, DamagedTapesAreRefusedOrStopped) {
  const std::string header = std::string("VLTQTAPE") + std::string("\x01\0\0\0", 4);
  struct Case {
    const char* name;
    std::string bytes;
    bool opens;
    TapeStatus first;
  };
  const Case cases[] = {
      {"empty file", "", false, TapeStatus::kEnd},
      {"other magic", "VLTQTAPX" + header.substr(8), false, TapeStatus::kEnd},
      {"later version", "VLTQTAPE" + std::string("\x03\0\0\0", 4), false, TapeStatus::kEnd},
      {"header only", header, true, TapeStatus::kEnd},
      {"type name of length 0", header + std::string("\0\0", 2), true, TapeStatus::kCorrupt},
      {"payload of 4 GiB",
       header + std::string("\x01\0X", 3) + std::string(8, '\0') + "\xff\xff\xff\xff", true,
       TapeStatus::kCorrupt},
      {"one byte of a record", header + "\x01", true, TapeStatus::kTruncated},
  };
  std::string path = TempPath("damaged");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PutBytes(path, c.bytes);
    sim::TapeReader reader;
    std::string error;
    ASSERT_EQ(reader.Open(path, error), c.opens) << error;
    if (!c.opens) {
      EXPECT_FALSE(error.empty());
      continue;
    }
    QuoteMessage m;
    EXPECT_EQ(reader.Next(m), c.first);
  }
  std::remove(path.c_str());
}

// Any byte of a record flipped: the reader hands back only records as they
// were written, and stops at the damaged one, saying where it starts.
TEST(TapeTest, AFlippedByteIsReportedNeverReplayedAsAlteredData) {
  std::vector<QuoteMessage> written = ShortDay();
  written.resize(4);
  const std::string path = TempPath("flipped");
  WriteTape(path, written);
  const std::string whole = FileBytes(path);
  std::vector<size_t> starts = {12};
  for (const QuoteMessage& m : written) starts.push_back(starts.back() + RecordSize(m));
  ASSERT_EQ(starts.back(), whole.size());
  for (size_t at = 12; at < whole.size(); ++at) {
    for (unsigned char flip : {0x01, 0x80, 0xff}) {
      SCOPED_TRACE("byte " + std::to_string(at) + " ^ " + std::to_string(flip));
      std::string bytes = whole;
      bytes[at] = static_cast<char>(bytes[at] ^ flip);
      PutBytes(path, bytes);
      sim::TapeReader reader;
      std::vector<QuoteMessage> read;
      uint64_t damagedAt = 0;
      const TapeStatus status = ReadAll(reader, path, read, &damagedAt);
      size_t record = 0;
      while (starts[record + 1] <= at) ++record;
      ASSERT_EQ(read.size(), record);
      for (size_t i = 0; i < read.size(); ++i) EXPECT_TRUE(SameRecord(read[i], written[i]));
      EXPECT_NE(status, TapeStatus::kEnd);
      EXPECT_NE(status, TapeStatus::kRecord);
      EXPECT_EQ(damagedAt, starts[record]);
    }
  }
  std::remove(path.c_str());
}

// A version 1 tape has no checksums; it replays as it stands.
TEST(TapeTest, VersionOneTapesStillRead) {
  std::vector<QuoteMessage> written = ShortDay();
  written.resize(5);
  std::string bytes = std::string("VLTQTAPE") + std::string("\x01\0\0\0", 4);
  auto put = [&bytes](uint64_t value, int size) {
    for (int i = 0; i < size; ++i) bytes += static_cast<char>(value >> (8 * i) & 0xff);
  };
  for (const QuoteMessage& m : written) {
    put(std::strlen(m.typeName), 2);
    bytes += m.typeName;
    put(static_cast<uint64_t>(m.time), 8);
    put(m.payload.size(), 4);
    bytes += m.payload;
  }
  const std::string path = TempPath("version1");
  PutBytes(path, bytes);
  sim::TapeReader reader;
  std::vector<QuoteMessage> read;
  EXPECT_EQ(ReadAll(reader, path, read), TapeStatus::kEnd);
  ASSERT_EQ(read.size(), written.size());
  for (size_t i = 0; i < read.size(); ++i) {
    EXPECT_TRUE(SameRecord(read[i], written[i]));
    EXPECT_EQ(read[i].code, written[i].code);
  }
  std::remove(path.c_str());
}

TEST(TapeTest, OnlyARegularFileOpens) {
  const std::string fifo = TempPath("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string directory = TempPath("directory");
  ASSERT_EQ(mkdir(directory.c_str(), 0700), 0);
  struct Case {
    std::string path;
    const char* reason;
  };
  const Case cases[] = {{fifo, "not a regular file"},
                        {directory, "not a regular file"},
                        {"/dev/zero", "not a regular file"},
                        {TempPath("missing"), "No such file"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    sim::TapeReader reader;
    std::string error;
    EXPECT_FALSE(reader.Open(c.path, error));
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
  std::remove(fifo.c_str());
  rmdir(directory.c_str());
}

TEST(PayloadFieldsTest, SymbolAndKindOfEachType) {
  lmvproto::SSEL2_Index shIndex;
  shIndex.set_symbol("000001");
  shIndex.set_extra7(3100.5);
  lmvproto::SZSEL2_Index szIndex;
  szIndex.set_symbol("399001");
  lmvproto::SSEL2_Static shStatic;
  shStatic.set_symbol("600000");
  shStatic.set_securityname("BANK");
  lmvproto::SZSEL2_Static szStatic;
  szStatic.set_symbol("000001");
  lmvproto::SSEL2_Quotation noSymbol;
  noSymbol.set_lastprice(1.5);
  // Two Symbol fields: a parser keeps the last.
  std::string twice = Encode(testing_support::ShanghaiTrade());
  lmvproto::SSEL2_Transaction other;
  other.set_symbol("600001");
  twice += Encode(other);
  // Field 5 of SSEL2_Quotation as a varint is not the Symbol.
  std::string wrongWireType = "\x28\x07";

  struct Case {
    const char* type;
    std::string payload;
    bool found;
    const char* code;
    sim::FeedKind kind;
  };
  const Case cases[] = {
      {"SSEL2_Quotation", Encode(testing_support::ShanghaiSnapshot()), true, "600000",
       sim::kSnapshots},
      {"SZSEL2_Quotation", Encode(testing_support::ShenzhenSnapshot()), true, "000001",
       sim::kSnapshots},
      {"SSEL2_Transaction", Encode(testing_support::ShanghaiTrade()), true, "600000", sim::kTrades},
      {"SZSEL2_Transaction", Encode(testing_support::ShenzhenTrade()), true, "000001",
       sim::kTrades},
      {"SSEL2_Index", Encode(shIndex), true, "000001", sim::kSnapshots},
      {"SZSEL2_Index", Encode(szIndex), true, "399001", sim::kSnapshots},
      {"SSEL2_Static", Encode(shStatic), true, "600000", sim::kSnapshots},
      {"SZSEL2_Static", Encode(szStatic), true, "000001", sim::kSnapshots},
      {"SSEL2_Transaction", twice, true, "600001", sim::kTrades},
      {"SSEL2_Quotation", Encode(noSymbol), false, "", sim::kSnapshots},
      {"SSEL2_Quotation", wrongWireType, false, "", sim::kSnapshots},
      {"SSEL2_Quotation", Encode(testing_support::ShanghaiSnapshot()).substr(0, 20), false, "",
       sim::kSnapshots},
      {"Empty", "", false, "", sim::kSnapshots},
      {"ssel2_quotation", Encode(testing_support::ShanghaiSnapshot()), false, "", sim::kSnapshots},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.type) + " " + c.code);
    std::string code = "unchanged";
    EXPECT_EQ(sim::SymbolOf(c.type, c.payload, code), c.found);
    if (c.found) {
      EXPECT_EQ(code, c.code);
    }
    EXPECT_EQ(sim::KindOfType(c.type), c.kind);
  }
}

}  // namespace

namespace {

TEST(TapeTextTest, OneReadableLinePerMessage) {
  lmvproto::SSEL2_Index index;
  index.set_symbol("000001");
  index.set_extra4(7);
  index.set_extra7(3100.25);
  lmvproto::SSEL2_Transaction oddSymbol = testing_support::ShanghaiTrade();
  oddSymbol.set_symbol("60\n000");
  lmvproto::SSEL2_Transaction uncross = testing_support::ShanghaiTrade();
  uncross.set_buysellflag(0);
  // An opening call with 2000 shares matched at 12.30 and 500 bought beyond
  // them; the same without a cross; and a snapshot of continuous trading.
  lmvproto::SSEL2_Quotation call;
  call.set_symbol("600000");
  call.set_securityphasetag("C");
  call.set_bidprice01(12.30);
  call.set_bidvolume01(2000);
  call.set_askprice01(12.30);
  call.set_askvolume01(2000);
  call.set_bidprice02(12.30);
  call.set_bidvolume02(500);
  lmvproto::SSEL2_Quotation apart = call;
  apart.set_askprice01(12.31);
  apart.clear_bidprice02();
  apart.clear_bidvolume02();
  lmvproto::SSEL2_Quotation continuous = apart;
  continuous.set_securityphasetag("T");
  struct Case {
    const char* type;
    std::string payload;
    const char* code;
    const char* line;
  };
  const Case cases[] = {
      {"SSEL2_Transaction", Encode(testing_support::ShanghaiTrade()), "600000",
       "09:30:01.500 SSEL2_Transaction 600000 B 300@12.34"},
      {"SZSEL2_Transaction", Encode(testing_support::ShenzhenTrade()), "000001",
       "09:30:01.500 SZSEL2_Transaction 000001 S 1500.5000@10.125"},
      {"SSEL2_Index", Encode(index), "000001",
       "09:30:01.500 SSEL2_Index 000001 #4=7 #6=\"000001\" #7=3100.25"},
      {"SSEL2_Transaction", Encode(oddSymbol), "60\n000",
       "09:30:01.500 SSEL2_Transaction 60\\x0A000 B 300@12.34"},
      {"Empty", "", "", "09:30:01.500 Empty - (no fields)"},
      {"SSEL2_Transaction", Encode(testing_support::ShanghaiTrade()).substr(0, 12), "",
       "09:30:01.500 SSEL2_Transaction - U 0@0.00 (malformed payload)"},
      {"SSEL2_Transaction", Encode(uncross), "600000",
       "09:30:01.500 SSEL2_Transaction 600000 U 300@12.34"},
      {"SSEL2_Quotation", Encode(call), "600000",
       "09:30:01.500 SSEL2_Quotation 600000 last=0.00 open=0.00 high=0.00 low=0.00 pre=0.00 "
       "volume=0 amount=0.00 bids=12.30x2000,12.30x500 asks=12.30x2000 phase=C "
       "indicative=12.30x2000 unmatched=buy:500"},
      {"SSEL2_Quotation", Encode(apart), "600000",
       "09:30:01.500 SSEL2_Quotation 600000 last=0.00 open=0.00 high=0.00 low=0.00 pre=0.00 "
       "volume=0 amount=0.00 bids=12.30x2000 asks=12.31x2000 phase=C indicative=none"},
      {"SSEL2_Quotation", Encode(continuous), "600000",
       "09:30:01.500 SSEL2_Quotation 600000 last=0.00 open=0.00 high=0.00 low=0.00 pre=0.00 "
       "volume=0 amount=0.00 bids=12.30x2000 asks=12.31x2000 phase=T"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    QuoteMessage m{c.type, 93001500, c.code, sim::KindOfType(c.type), c.payload};
    EXPECT_EQ(sim::DescribeMessage(m), c.line);
  }
  QuoteMessage snapshot{"SZSEL2_Quotation", 145703250, "000001", sim::kSnapshots,
                        Encode(testing_support::ShenzhenSnapshot())};
  const std::string start =
      "14:57:03.250 SZSEL2_Quotation 000001 last=10.125 open=10.01 high=10.20 low=9.95 "
      "pre=10.00 volume=2500000000.4000 amount=25312500000.50 bids=10.12x1100,";
  EXPECT_EQ(sim::DescribeMessage(snapshot).substr(0, start.size()), start);
}

}  // namespace
