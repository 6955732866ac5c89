// A power request the system can show: `powercfg /requests` lists it with its reason while the
// program keeps the machine awake, beside the execution-state requests, which show no reason.
#pragma once

#include <windows.h>

#include <string>

namespace dozerin {

// The system's power-request calls, which tests replace.
class PowerRequestCalls {
 public:
  virtual ~PowerRequestCalls() = default;
  // A request with a simple reason string; null when it cannot be made.
  virtual HANDLE Create(const std::wstring& reason);
  virtual bool Set(HANDLE request, POWER_REQUEST_TYPE type);
  virtual bool Clear(HANDLE request, POWER_REQUEST_TYPE type);
  virtual void Close(HANDLE request);
};

class PowerRequest {
 public:
  explicit PowerRequest(PowerRequestCalls& calls) : calls_(calls) {}
  ~PowerRequest() { Apply(false, {}, false); }
  PowerRequest(const PowerRequest&) = delete;
  PowerRequest& operator=(const PowerRequest&) = delete;

  // Holds the system (and the display too) with this reason while `hold`, nothing otherwise. A
  // request's reason is fixed when it is made: a new reason takes a new request, set before the
  // old one goes, so the machine is held throughout.
  void Apply(bool hold, const std::wstring& reason, bool display);

 private:
  void Release(HANDLE request, bool display);

  PowerRequestCalls& calls_;
  HANDLE request_ = nullptr;
  std::wstring reason_;
  bool display_ = false;
};

}  // namespace dozerin
