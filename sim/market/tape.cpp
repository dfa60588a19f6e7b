// Writing and reading tapes.

#include "tape.h"

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>

#include "payload_fields.h"
#include "regular_file.h"

namespace sim {
namespace {

constexpr size_t kBufferSize = 1 << 20;

template <class Integer>
void Put(std::string& out, Integer value) {
  for (size_t i = 0; i < sizeof value; ++i) {
    out.push_back(static_cast<char>(static_cast<uint64_t>(value) >> (8 * i) & 0xFF));
  }
}

template <class Integer>
Integer Get(const unsigned char* bytes) {
  uint64_t value = 0;
  for (size_t i = 0; i < sizeof(Integer); ++i) value |= static_cast<uint64_t>(bytes[i]) << (8 * i);
  return static_cast<Integer>(value);
}

std::string Reason(const std::string& path) { return path + ": " + std::strerror(errno); }

std::FILE* OpenBuffered(const std::string& path, const char* mode, std::string& error) {
  std::FILE* file = std::fopen(path.c_str(), mode);
  if (file == nullptr) {
    error = Reason(path);
    return nullptr;
  }
  std::setvbuf(file, nullptr, _IOFBF, kBufferSize);
  return file;
}

// zlib's CRC-32, carried on from `crc`; a record is far below the 4 GiB that
// one call takes.
uint32_t Checksum(uint32_t crc, const void* bytes, size_t size) {
  return static_cast<uint32_t>(
      crc32(crc, static_cast<const Bytef*>(bytes), static_cast<uInt>(size)));
}

}  // namespace

TapeWriter::~TapeWriter() {
  if (file_ != nullptr) std::fclose(file_);
}

bool TapeWriter::Open(const std::string& path, std::string& error) {
  file_ = OpenBuffered(path, "wb", error);
  if (file_ == nullptr) return false;
  std::string header(kTapeMagic, sizeof kTapeMagic);
  Put<uint32_t>(header, kTapeVersion);
  failed_ = std::fwrite(header.data(), 1, header.size(), file_) != header.size();
  return true;
}

bool TapeWriter::OpenToAppend(const std::string& path, std::string& error) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0 || (S_ISREG(status.st_mode) && status.st_size == 0)) {
    return Open(path, error);
  }
  uint64_t end = 0;
  {
    TapeReader reader;
    if (!reader.Open(path, error)) return false;
    if (reader.Version() != kTapeVersion) {
      error = path + ": a tape of version " + std::to_string(reader.Version()) +
              "; records are only added to tapes of version " + std::to_string(kTapeVersion);
      return false;
    }
    QuoteMessage message;
    TapeStatus read;
    while ((read = reader.Next(message)) == TapeStatus::kRecord) {
    }
    if (read != TapeStatus::kEnd && read != TapeStatus::kTruncated) {
      error = path + ": " + reader.Damage(read) + "; no records are added to it";
      return false;
    }
    end = reader.RecordOffset();
  }
  if (::truncate(path.c_str(), static_cast<off_t>(end)) != 0) {
    error = Reason(path);
    return false;
  }
  file_ = OpenBuffered(path, "ab", error);
  return file_ != nullptr;
}

bool TapeWriter::Flush() {
  if (file_ == nullptr || std::fflush(file_) != 0) failed_ = true;
  return !failed_;
}

bool TapeWriter::Write(const QuoteMessage& message) {
  size_t nameLength = std::strlen(message.typeName);
  if (file_ == nullptr || nameLength == 0 || nameLength > 255 ||
      message.payload.size() > kLargestTapePayload) {
    failed_ = true;
    return false;
  }
  std::string frame;
  Put<uint16_t>(frame, static_cast<uint16_t>(nameLength));
  frame.append(message.typeName, nameLength);
  Put<int64_t>(frame, message.time);
  Put<uint32_t>(frame, static_cast<uint32_t>(message.payload.size()));
  std::string check;
  Put<uint32_t>(check, Checksum(Checksum(0, frame.data(), frame.size()), message.payload.data(),
                                message.payload.size()));
  if (std::fwrite(frame.data(), 1, frame.size(), file_) != frame.size() ||
      std::fwrite(message.payload.data(), 1, message.payload.size(), file_) !=
          message.payload.size() ||
      std::fwrite(check.data(), 1, check.size(), file_) != check.size()) {
    failed_ = true;
  }
  return !failed_;
}

bool TapeWriter::Close(std::string& error) {
  if (file_ == nullptr) return !failed_;
  bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  if (failed_ || !closed) {
    error = std::string("writing the tape failed: ") + std::strerror(errno);
    return false;
  }
  return true;
}

std::string TapeReader::Damage(TapeStatus status) const {
  const std::string where = "record at byte " + std::to_string(recordOffset_) + ": ";
  switch (status) {
    case TapeStatus::kTruncated:
      return where + "the last record is cut short";
    case TapeStatus::kCorrupt:
      return where + "a record with impossible lengths; the rest is unreadable";
    case TapeStatus::kDamaged:
      return where +
             "a record whose checksum does not match: it is damaged, and the rest untrusted";
    case TapeStatus::kRecord:
    case TapeStatus::kEnd:
      break;
  }
  return "";
}

TapeReader::~TapeReader() {
  if (file_ != nullptr) std::fclose(file_);
}

bool TapeReader::Open(const std::string& path, std::string& error) {
  file_ = OpenRegularFile(path, error);
  if (file_ == nullptr) return false;
  std::setvbuf(file_, nullptr, _IOFBF, kBufferSize);
  unsigned char header[sizeof kTapeMagic + 4];
  if (std::fread(header, 1, sizeof header, file_) != sizeof header ||
      std::memcmp(header, kTapeMagic, sizeof kTapeMagic) != 0) {
    error = path + ": not a tape";
    return false;
  }
  version_ = Get<uint32_t>(header + sizeof kTapeMagic);
  if (version_ != 1 && version_ != kTapeVersion) {
    error = path + ": tape version " + std::to_string(version_) + " (this build reads 1 to " +
            std::to_string(kTapeVersion) + ")";
    return false;
  }
  offset_ = sizeof header;
  return true;
}

TapeStatus TapeReader::Next(QuoteMessage& message) {
  if (file_ == nullptr) return TapeStatus::kEnd;
  recordOffset_ = offset_;
  // The record's fixed part as it stands in the file, for its checksum.
  unsigned char frame[2 + 255 + 12];
  size_t got = std::fread(frame, 1, 2, file_);
  if (got == 0) return TapeStatus::kEnd;
  if (got != 2) return TapeStatus::kTruncated;
  uint16_t nameLength = Get<uint16_t>(frame);
  if (nameLength == 0 || nameLength > 255) return TapeStatus::kCorrupt;
  unsigned char* fixed = frame + 2 + nameLength;
  if (std::fread(frame + 2, 1, nameLength + 12u, file_) != nameLength + 12u) {
    return TapeStatus::kTruncated;
  }
  uint32_t payloadLength = Get<uint32_t>(fixed + 8);
  if (payloadLength > kLargestTapePayload) return TapeStatus::kCorrupt;
  message.payload.resize(payloadLength);
  if (std::fread(message.payload.data(), 1, payloadLength, file_) != payloadLength) {
    return TapeStatus::kTruncated;
  }
  const size_t frameLength = 2 + nameLength + 12u;
  offset_ += frameLength + payloadLength;
  if (version_ >= 2) {
    unsigned char check[4];
    if (std::fread(check, 1, sizeof check, file_) != sizeof check) return TapeStatus::kTruncated;
    offset_ += sizeof check;
    const uint32_t crc =
        Checksum(Checksum(0, frame, frameLength), message.payload.data(), message.payload.size());
    if (crc != Get<uint32_t>(check)) return TapeStatus::kDamaged;
  }
  name_.assign(reinterpret_cast<const char*>(frame + 2), nameLength);
  message.typeName = typeNames_.Intern(name_);
  message.time = Get<int64_t>(fixed);
  message.kind = KindOfType(name_);
  if (!SymbolOf(name_, message.payload, message.code)) message.code.clear();
  return TapeStatus::kRecord;
}

}  // namespace sim
