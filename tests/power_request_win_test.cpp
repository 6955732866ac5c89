// The power request the system shows: made, set, renewed and let go as the state and its reason
// change, checked against a record of the calls.
#include "control/power_request_win.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace dozerin {
namespace {

class RecordedCalls : public PowerRequestCalls {
 public:
  HANDLE Create(const std::wstring& reason) override {
    if (refuse) return nullptr;
    log.push_back(L"create " + reason);
    return reinterpret_cast<HANDLE>(++made);
  }
  bool Set(HANDLE request, POWER_REQUEST_TYPE type) override {
    log.push_back(Name(L"set", request, type));
    return true;
  }
  bool Clear(HANDLE request, POWER_REQUEST_TYPE type) override {
    log.push_back(Name(L"clear", request, type));
    return true;
  }
  void Close(HANDLE request) override {
    log.push_back(L"close " + std::to_wstring(reinterpret_cast<INT_PTR>(request)));
  }
  static std::wstring Name(const wchar_t* what, HANDLE request, POWER_REQUEST_TYPE type) {
    return std::wstring(what) + L" " + std::to_wstring(reinterpret_cast<INT_PTR>(request)) +
           (type == PowerRequestSystemRequired ? L" system" : L" display");
  }
  std::vector<std::wstring> log;
  INT_PTR made = 0;
  bool refuse = false;
};

TEST(PowerRequest, FollowsTheStateTheReasonAndTheDisplay) {
  RecordedCalls calls;
  using Log = std::vector<std::wstring>;
  const struct {
    bool hold;
    const wchar_t* reason;
    bool display, refuse;
    Log calls;
  } steps[] = {
      {false, L"", false, false, {}},
      {true,
       L"Dozerin: process vlc.exe",
       false,
       false,
       {L"create Dozerin: process vlc.exe", L"set 1 system"}},
      {true, L"Dozerin: process vlc.exe", false, false, {}},
      // A new reason: the new request is set before the old one goes.
      {true,
       L"Dozerin: kept awake by hand, 41 min left",
       true,
       false,
       {L"create Dozerin: kept awake by hand, 41 min left", L"set 2 system", L"set 2 display",
        L"clear 1 system", L"close 1"}},
      {true, L"Dozerin: kept awake by hand, 41 min left", false, false, {L"clear 2 display"}},
      // One that cannot be made leaves the one there is.
      {true, L"Dozerin: window *", false, true, {}},
      {false, L"", false, false, {L"clear 2 system", L"close 2"}},
  };
  {
    PowerRequest request(calls);
    for (const auto& s : steps) {
      calls.log.clear();
      calls.refuse = s.refuse;
      request.Apply(s.hold, s.reason, s.display);
      EXPECT_EQ(calls.log, s.calls) << std::string(s.reason, s.reason + wcslen(s.reason));
    }
    request.Apply(true, L"Dozerin: disk 38 MB/s", true);
    calls.log.clear();
  }
  // Gone with the program: nothing left set.
  EXPECT_EQ(calls.log, (Log{L"clear 3 system", L"clear 3 display", L"close 3"}));
}

}  // namespace
}  // namespace dozerin
