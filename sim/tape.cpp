// Writing and reading tapes.

#include "tape.h"

#include <cerrno>
#include <cstring>

#include "payload_fields.h"

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
  if (std::fwrite(frame.data(), 1, frame.size(), file_) != frame.size() ||
      std::fwrite(message.payload.data(), 1, message.payload.size(), file_) !=
          message.payload.size()) {
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

const char* TapeDamage(TapeStatus status) {
  switch (status) {
    case TapeStatus::kTruncated:
      return "the last record is cut short";
    case TapeStatus::kCorrupt:
      return "a record with impossible lengths; the rest is unreadable";
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
  file_ = OpenBuffered(path, "rb", error);
  if (file_ == nullptr) return false;
  unsigned char header[sizeof kTapeMagic + 4];
  if (std::fread(header, 1, sizeof header, file_) != sizeof header ||
      std::memcmp(header, kTapeMagic, sizeof kTapeMagic) != 0) {
    error = path + ": not a tape";
    return false;
  }
  if (uint32_t version = Get<uint32_t>(header + sizeof kTapeMagic); version != kTapeVersion) {
    error = path + ": tape version " + std::to_string(version) + " (this build reads " +
            std::to_string(kTapeVersion) + ")";
    return false;
  }
  return true;
}

TapeStatus TapeReader::Next(QuoteMessage& message) {
  if (file_ == nullptr) return TapeStatus::kEnd;
  unsigned char length[2];
  size_t got = std::fread(length, 1, sizeof length, file_);
  if (got == 0) return TapeStatus::kEnd;
  if (got != sizeof length) return TapeStatus::kTruncated;
  uint16_t nameLength = Get<uint16_t>(length);
  if (nameLength == 0 || nameLength > 255) return TapeStatus::kCorrupt;
  name_.resize(nameLength);
  unsigned char fixed[12];
  if (std::fread(name_.data(), 1, nameLength, file_) != nameLength ||
      std::fread(fixed, 1, sizeof fixed, file_) != sizeof fixed) {
    return TapeStatus::kTruncated;
  }
  uint32_t payloadLength = Get<uint32_t>(fixed + 8);
  if (payloadLength > kLargestTapePayload) return TapeStatus::kCorrupt;
  message.payload.resize(payloadLength);
  if (std::fread(message.payload.data(), 1, payloadLength, file_) != payloadLength) {
    return TapeStatus::kTruncated;
  }
  message.typeName = Intern(name_);
  message.time = Get<int64_t>(fixed);
  message.kind = KindOfType(name_);
  if (!SymbolOf(name_, message.payload, message.code)) message.code.clear();
  return TapeStatus::kRecord;
}

// A tape holds a handful of type names; each is kept once for the reader's life.
const char* TapeReader::Intern(const std::string& name) {
  for (const auto& known : typeNames_) {
    if (*known == name) return known->c_str();
  }
  return typeNames_.emplace_back(std::make_unique<std::string>(name))->c_str();
}

}  // namespace sim
