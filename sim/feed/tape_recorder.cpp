// The recorder's thread: drain the ring, write, flush, wait a little.

#include "tape_recorder.h"

#include <chrono>
#include <cstdio>

#include "payload_fields.h"

namespace sim {
namespace {

// How long the thread sleeps when the ring is empty: far below what a
// crash would make anyone miss, far above what costs a core.
constexpr auto kIdle = std::chrono::milliseconds(2);

}  // namespace

bool TapeRecorder::Start(const std::string& path, std::string& error) {
  if (!writer_.OpenToAppend(path, error)) return false;
  path_ = path;
  thread_ = std::thread([this] { Run(); });
  return true;
}

void TapeRecorder::Stop() {
  std::lock_guard<std::mutex> once(stopOnce_);
  if (!thread_.joinable()) return;
  stopping_.store(true, std::memory_order_release);
  thread_.join();
  std::string error;
  if (!writer_.Close(error) && failure_.empty()) failure_ = error;
  std::string report =
      "simulated exchange: recorded " + std::to_string(written_) + " messages to " + path_;
  if (uint64_t dropped = ring_.Dropped(); dropped > 0) {
    report += "; " + std::to_string(dropped) + " dropped: the disk fell behind the feed";
  }
  if (tooLarge_ > 0) {
    report += "; " + std::to_string(tooLarge_) + " left out: larger than a tape's record";
  }
  if (!failure_.empty()) report += "; recording stopped: " + failure_;
  std::fprintf(stderr, "%s\n", report.c_str());
}

void TapeRecorder::Run() {
  RingMessage taken;
  for (;;) {
    // What was offered before the stop was asked for is still written.
    const bool stopping = stopping_.load(std::memory_order_acquire);
    int64_t count = 0;
    while (ring_.Take(taken)) {
      Write(taken);
      ++count;
    }
    if (count > 0 && failure_.empty() && !writer_.Flush()) failure_ = "the disk refused a write";
    if (stopping) return;
    if (count == 0) std::this_thread::sleep_for(kIdle);
  }
}

bool TapeRecorder::Write(RingMessage& taken) {
  if (!failure_.empty()) return false;
  if (taken.payload.size() > kLargestTapePayload) {
    ++tooLarge_;
    return true;
  }
  int64_t time = taken.time;
  if (time < 0 && !TimeOf(taken.typeName, taken.payload, time)) time = latest_;
  latest_ = time;
  message_.typeName = typeNames_.Intern(taken.typeName);
  message_.time = time;
  message_.payload.swap(taken.payload);
  const bool written = writer_.Write(message_);
  message_.payload.swap(taken.payload);
  if (!written) {
    failure_ = "the disk refused a write";
    return false;
  }
  ++written_;
  return true;
}

}  // namespace sim
