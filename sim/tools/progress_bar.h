// progress_bar.h: the tape tool's progress on a terminal, on standard error
// and only when it is a terminal, so that scripts see the summary alone.

#ifndef VELTRANE_SIM_PROGRESS_BAR_H
#define VELTRANE_SIM_PROGRESS_BAR_H

#include <unistd.h>

#include <cstdint>
#include <cstdio>

namespace sim {

class ProgressBar {
 public:
  ProgressBar() : shown_(isatty(STDERR_FILENO) != 0) {}
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // `share` of the work done (0 to 1), after `messages` messages. Redraws
  // only when the percentage changes, so calling it per message is cheap.
  void Show(double share, int64_t messages) {
    int percent = static_cast<int>(share * 100);
    if (!shown_ || percent == percent_) return;
    percent_ = percent;
    char bar[41];
    int filled = percent * 40 / 100;
    for (int i = 0; i < 40; ++i) bar[i] = i < filled ? '#' : '.';
    bar[40] = '\0';
    std::fprintf(stderr, "\r[%s] %3d%% %lld messages", bar, percent,
                 static_cast<long long>(messages));
    std::fflush(stderr);
  }

  ~ProgressBar() {
    if (shown_ && percent_ >= 0) std::fputc('\n', stderr);
  }

 private:
  bool shown_;
  int percent_ = -1;
};

}  // namespace sim

#endif  // VELTRANE_SIM_PROGRESS_BAR_H
