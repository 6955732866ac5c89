// A Linux worker given up by a stop: once the stop has returned, nothing more reaches its
// receiver, which may then go away.
#include "monitor/worker_thread_linux.h"

#include <gtest/gtest.h>

#include <future>

namespace dozerin {
namespace {

TEST(LinuxWorkerThread, AStopThatGivesUpWaitsForAReportUnderWay) {
  std::promise<void> entered, release;
  std::shared_future<void> released = release.get_future().share();
  LinuxWorkerThread worker = LinuxWorkerThread::Start(
      [&](std::uint32_t, std::uint32_t, const std::string&) {
        entered.set_value();
        released.wait();  // the receiver is still being reached
      },
      [](int) {}, [](LinuxWorkerControl& control) { control.Post(1, 1, "x"); });
  entered.get_future().wait();
  auto stop = std::async(std::launch::async, [&] { return worker.Stop(10); });
  // A stop that returned now would let the receiver go while the report still reaches it.
  EXPECT_EQ(stop.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
  release.set_value();
  stop.get();
}

}  // namespace
}  // namespace dozerin
