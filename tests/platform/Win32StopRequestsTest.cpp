// The console's stop requests on Windows: Ctrl-C and Ctrl-Break reach the
// program through its control handler, are counted in the order they came
// and named in the words a technician knows, and do not end the program
// before the third.
#include <gtest/gtest.h>

#include "platform/StopRequests.h"

namespace bcu::platform {
namespace {

TEST(Win32StopRequestsTest, TheConsoleHandlerCountsAndNamesTheRequests) {
  InstallStopRequests(10);
  ForgetStopRequests();
  EXPECT_EQ(StopRequestCount(), 0);
  EXPECT_STREQ(FirstStopRequestName(), "");

  DeliverStopRequest(StopRequestKind::Interrupt);
  EXPECT_EQ(StopRequestCount(), 1);
  EXPECT_STREQ(FirstStopRequestName(), "Ctrl-C");

  // The second asks for a stop at once; the program is still here.
  DeliverStopRequest(StopRequestKind::Break);
  EXPECT_EQ(StopRequestCount(), 2);
  EXPECT_STREQ(FirstStopRequestName(), "Ctrl-C");

  ForgetStopRequests();
  DeliverStopRequest(StopRequestKind::Break);
  EXPECT_EQ(StopRequestCount(), 1);
  EXPECT_STREQ(FirstStopRequestName(), "Ctrl-Break");
  ForgetStopRequests();
}

}  // namespace
}  // namespace bcu::platform
