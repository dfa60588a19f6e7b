// queue_models.h: where a resting order stands in the queue at its price
// when the book's volume there falls without trades.
//
// A snapshot shows only each level's total, so when volume at an order's
// price leaves without trading (cancels), the venue cannot see whether it
// left from ahead of the order or from behind it. A queue model decides.
// Both keep what is ahead within what the book shows:
//
//   risk-averse   ahead' = min(ahead, after)
//                 every cancel came from behind the order, as long as there
//                 was volume behind it; the order moves up only when the
//                 level shrinks below what was ahead of it.
//   proportional  ahead' = ceil(ahead * after / before)
//                 cancels are spread evenly over the queue, so the share
//                 ahead of the order shrinks in step with the level.
//
// `before` is the level's volume as the last snapshot showed it less what
// traded there since; `after` what the new snapshot shows, below it.

#ifndef VELTRANE_SIM_QUEUE_MODELS_H
#define VELTRANE_SIM_QUEUE_MODELS_H

#include <cstdint>
#include <string_view>

namespace sim {

// XX(enumerator, the setting's value)
#define SIM_QUEUE_MODEL_MAP(XX)  \
  XX(kRiskAverse, "risk-averse") \
  XX(kProportional, "proportional")

enum class QueueModelKind {
#define SIM_QUEUE_MODEL_ENUM(name, key) name,
  SIM_QUEUE_MODEL_MAP(SIM_QUEUE_MODEL_ENUM)
#undef SIM_QUEUE_MODEL_ENUM
};

class QueueModel {
 public:
  virtual ~QueueModel() = default;
  // What is ahead of an order once the level has fallen from `before` to
  // `after` shares without trades.
  virtual int64_t AfterCancels(int64_t ahead, int64_t before, int64_t after) const = 0;
};

const QueueModel& QueueModelOf(QueueModelKind kind);
const char* QueueModelName(QueueModelKind kind);
// False for a name that is no model's.
bool ParseQueueModel(std::string_view name, QueueModelKind& kind);
// "risk-averse, proportional": for messages.
const char* QueueModelNames();

}  // namespace sim

#endif  // VELTRANE_SIM_QUEUE_MODELS_H
