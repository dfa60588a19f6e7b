// The queue models.

#include "queue_models.h"

#include <algorithm>
#include <iterator>
#include <string>

namespace sim {
namespace {

class RiskAverse final : public QueueModel {
 public:
  int64_t AfterCancels(int64_t ahead, int64_t, int64_t after) const override {
    return std::min(ahead, after);
  }
};

class Proportional final : public QueueModel {
 public:
  int64_t AfterCancels(int64_t ahead, int64_t before, int64_t after) const override {
    if (ahead >= before || before <= 0) return std::min(ahead, after);
    // Rounded up: a share of a lot left ahead is still in the way.
    __int128 scaled = static_cast<__int128>(ahead) * after + before - 1;
    return std::min<int64_t>(static_cast<int64_t>(scaled / before), after);
  }
};

constexpr const char* kNames[] = {
#define SIM_QUEUE_MODEL_NAME(name, key) key,
    SIM_QUEUE_MODEL_MAP(SIM_QUEUE_MODEL_NAME)
#undef SIM_QUEUE_MODEL_NAME
};

}  // namespace

const QueueModel& QueueModelOf(QueueModelKind kind) {
  static const RiskAverse riskAverse;
  static const Proportional proportional;
  switch (kind) {
    case QueueModelKind::kProportional:
      return proportional;
    case QueueModelKind::kRiskAverse:
      break;
  }
  return riskAverse;
}

const char* QueueModelName(QueueModelKind kind) { return kNames[static_cast<size_t>(kind)]; }

bool ParseQueueModel(std::string_view name, QueueModelKind& kind) {
  for (size_t i = 0; i < std::size(kNames); ++i) {
    if (name == kNames[i]) {
      kind = static_cast<QueueModelKind>(i);
      return true;
    }
  }
  return false;
}

const char* QueueModelNames() {
  static const std::string names = [] {
    std::string joined;
    for (const char* name : kNames) joined += (joined.empty() ? "" : ", ") + std::string(name);
    return joined;
  }();
  return names.c_str();
}

}  // namespace sim
