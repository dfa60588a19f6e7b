// tape.h: files of recorded feed messages ("tapes"), written by the tape
// tool and replayed by the simulated feed.
//
// A tape is a header followed by records, all integers little-endian:
//
//   header  "VLTQTAPE" (8 bytes), version (u32, 2)
//   record  type-name length (u16, 1..255), type name (e.g. "SSEL2_Quotation"),
//           exchange time (i64, HHMMSSmmm), payload length (u32, at most
//           64 MiB), payload (one protobuf message of that type), CRC-32
//           (u32, zlib's) of the record's bytes before it
//
// Version 1 tapes are the same without the CRC-32; they still read. Records
// are replayed in file order. A record cut short by the end of the file (a
// writer that died) ends the tape, and so does a damaged one: a record whose
// lengths are impossible or whose checksum does not match, since neither
// its data nor where the next record starts can be trusted. Everything
// before it stands.

#ifndef VELTRANE_SIM_TAPE_H
#define VELTRANE_SIM_TAPE_H

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "quote_message.h"

namespace sim {

constexpr char kTapeMagic[8] = {'V', 'L', 'T', 'Q', 'T', 'A', 'P', 'E'};
constexpr uint32_t kTapeVersion = 2;  // what the writer writes; 1 still reads
constexpr uint32_t kLargestTapePayload = 64u << 20;

class TapeWriter {
 public:
  TapeWriter() = default;
  TapeWriter(const TapeWriter&) = delete;
  TapeWriter& operator=(const TapeWriter&) = delete;
  ~TapeWriter();

  // Creates or truncates `path` and writes the header.
  bool Open(const std::string& path, std::string& error);
  // Opens `path` to add records after those it holds: a tape left by a
  // writer that died keeps every whole record, and a record it cut short is
  // taken off. A missing or empty file starts a new tape. Refuses anything
  // else (not a tape, an older version, a damaged record), leaving it as it is.
  bool OpenToAppend(const std::string& path, std::string& error);
  bool Write(const QuoteMessage& message);
  // Hands the records written so far to the system: a crash of the process
  // after it loses none of them.
  bool Flush();
  // Flushes and closes; false (with the reason) if any write failed.
  bool Close(std::string& error);

 private:
  std::FILE* file_ = nullptr;
  bool failed_ = false;
};

enum class TapeStatus {
  kRecord,     // `message` holds the next record
  kEnd,        // the tape ended cleanly
  kTruncated,  // the last record is cut short
  kCorrupt,    // a record's lengths are out of range; the rest is unreadable
  kDamaged,    // a record's checksum does not match; the rest is untrusted
};

class TapeReader {
 public:
  TapeReader() = default;
  TapeReader(const TapeReader&) = delete;
  TapeReader& operator=(const TapeReader&) = delete;
  ~TapeReader();

  // Opens `path`, which must be a regular file, and checks the header.
  bool Open(const std::string& path, std::string& error);

  // Reads the next record into `message`: type name (valid while the reader
  // lives), time, payload, and the code and kind read from the payload.
  TapeStatus Next(QuoteMessage& message);

  // Where the record that Next read last starts, in bytes from the start of
  // the file: the damaged one when Next reported damage.
  uint64_t RecordOffset() const { return recordOffset_; }
  uint32_t Version() const { return version_; }

  // What went wrong for kTruncated, kCorrupt and kDamaged, with where the
  // record starts, e.g. "record at byte 5002: the last record is cut short";
  // empty for the others.
  std::string Damage(TapeStatus status) const;

 private:
  std::FILE* file_ = nullptr;
  uint32_t version_ = 0;
  uint64_t offset_ = 0;  // bytes read so far
  uint64_t recordOffset_ = 0;
  TypeNames typeNames_;
  std::string name_;
};

}  // namespace sim

#endif  // VELTRANE_SIM_TAPE_H
