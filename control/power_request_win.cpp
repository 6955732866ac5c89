#include "control/power_request_win.h"

namespace dozerin {

HANDLE PowerRequestCalls::Create(const std::wstring& reason) {
  REASON_CONTEXT context = {};
  context.Version = POWER_REQUEST_CONTEXT_VERSION;
  context.Flags = POWER_REQUEST_CONTEXT_SIMPLE_STRING;
  std::wstring text = reason;  // the call takes a writable string
  context.Reason.SimpleReasonString = text.data();
  HANDLE request = PowerCreateRequest(&context);
  return request == INVALID_HANDLE_VALUE ? nullptr : request;
}

bool PowerRequestCalls::Set(HANDLE request, POWER_REQUEST_TYPE type) {
  return PowerSetRequest(request, type) != FALSE;
}

bool PowerRequestCalls::Clear(HANDLE request, POWER_REQUEST_TYPE type) {
  return PowerClearRequest(request, type) != FALSE;
}

void PowerRequestCalls::Close(HANDLE request) {
  CloseHandle(request);
}

void PowerRequest::Apply(bool hold, const std::wstring& reason, bool display) {
  if (!hold) {
    Release(request_, display_);
    request_ = nullptr;
    reason_.clear();
    return;
  }
  if (request_ != nullptr && reason == reason_ && display == display_) return;
  HANDLE old = request_;
  const bool old_display = display_;
  if (request_ == nullptr || reason != reason_) {
    request_ = calls_.Create(reason);
    // Where none can be made the execution-state requests still hold; the old one is kept.
    if (request_ == nullptr) {
      request_ = old;
      return;
    }
    calls_.Set(request_, PowerRequestSystemRequired);
    if (display) calls_.Set(request_, PowerRequestDisplayRequired);
    Release(old, old_display);
  } else if (display) {
    calls_.Set(request_, PowerRequestDisplayRequired);
  } else {
    calls_.Clear(request_, PowerRequestDisplayRequired);
  }
  reason_ = reason;
  display_ = display;
}

void PowerRequest::Release(HANDLE request, bool display) {
  if (request == nullptr) return;
  calls_.Clear(request, PowerRequestSystemRequired);
  if (display) calls_.Clear(request, PowerRequestDisplayRequired);
  calls_.Close(request);
}

}  // namespace dozerin
