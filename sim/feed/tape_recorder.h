// tape_recorder.h: keeps the market's messages on a tape as they come, from
// a thread of its own.
//
// Offer hands a message over without waiting (a bounded ring; what does not
// fit is dropped and counted), so neither the vendor's thread nor the
// exchange's ever waits for the disk. The recorder's thread writes what it
// finds and hands it to the system each time the ring runs dry: a crash of
// the process loses only what was still in the ring, and at most the last
// record on the tape is cut short, which a reader takes as the tape's end.
// A tape that is already there is carried on (TapeWriter::OpenToAppend), so
// a session restarted in the day adds to the morning's records.

#ifndef VELTRANE_SIM_TAPE_RECORDER_H
#define VELTRANE_SIM_TAPE_RECORDER_H

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "message_ring.h"
#include "tape.h"

namespace sim {

class TapeRecorder {
 public:
  // Enough for several seconds of a whole market's Level-2 feed.
  static constexpr size_t kRingMessages = 1 << 15;

  TapeRecorder() : ring_(kRingMessages) {}
  TapeRecorder(const TapeRecorder&) = delete;
  TapeRecorder& operator=(const TapeRecorder&) = delete;
  ~TapeRecorder() { Stop(); }

  // Opens the tape and starts the thread; false, with the reason, if the
  // tape cannot be opened.
  bool Start(const std::string& path, std::string& error);

  // From any thread, never waits. `time` is the message's exchange time, or
  // -1 to read it from the payload (a type without one takes the time of
  // the message before it).
  void Offer(const char* typeName, int64_t time, const char* payload, size_t length) noexcept {
    ring_.Offer(typeName, time, payload, length);
  }

  // Writes what was offered before it, closes the tape and prints what was
  // recorded and dropped to standard error. Once; later offers are dropped.
  void Stop();

 private:
  void Run();
  // Writes one message; false once writing has failed.
  bool Write(RingMessage& taken);

  MessageRing ring_;
  TapeWriter writer_;
  std::string path_;
  std::mutex stopOnce_;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  // The thread's own.
  TypeNames typeNames_;
  QuoteMessage message_;
  int64_t latest_ = 0;
  int64_t written_ = 0;
  int64_t tooLarge_ = 0;
  std::string failure_;
};

}  // namespace sim

#endif  // VELTRANE_SIM_TAPE_RECORDER_H
