// merge_mode.h: putting the library in one of its two order-code modes the
// way a client does, by a trade login whose result says which.

#ifndef VELTRANE_TESTS_MERGE_MODE_H
#define VELTRANE_TESTS_MERGE_MODE_H

#include <gtest/gtest.h>

#include <string>

#include "ZR_QuantApi.h"
#include "fake_gateways.h"

namespace testing_support {

// Logs `api` in with the double answering `mode` to the trade login (the
// login prints a line, which is swallowed); then forgets the calls so far.
inline void LogInWithMergeMode(Corvane::ZR_QuantApi& api, int64_t mode) {
  fake::SetResult("LibITG_ReqUserLogin", mode);
  char user[] = "user";
  char password[] = "secret";
  testing::internal::CaptureStdout();
  api.Login(user, password);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "conf_merge_position " + std::to_string(static_cast<int32_t>(mode)) + "\n");
  fake::Reset();
}

}  // namespace testing_support

#endif  // VELTRANE_TESTS_MERGE_MODE_H
