#pragma once

#include <string>
#include <vector>

#include "capture/capture_events.h"

namespace lintrel::testing {

// Records what the engine tells its front end.
class FakeCaptureEvents : public CaptureEvents {
 public:
  LineSettings settings;
  // "connected COM3", "failed COM3", "failed-silently COM3", "not-typed COM3", ...
  std::vector<std::string> calls;
  std::vector<std::string> failure_reasons;
  std::vector<LinkLoss> link_losses;

  LineSettings PullLineSettings() override {
    ++pulls;
    return settings;
  }
  void PortConnected(int port, const std::string&) override { Call("connected", port); }
  void PortDisconnected(int port) override { Call("disconnected", port); }
  void PortOpenFailed(int port, const std::string&, const platform::SerialError& error,
                      bool reconnecting) override {
    Call(reconnecting ? "failed-silently" : "failed", port);
    failure_reasons.push_back(error.message);
  }
  void LinkLost(int port, const LinkLoss& loss) override {
    Call("lost", port);
    link_losses.push_back(loss);
  }
  void LineNotTyped(int port, const std::string& reason, bool output_lost) override {
    Call(output_lost ? "output-lost" : "not-typed", port);
    failure_reasons.push_back(reason);
  }
  void DeliveryChanged(const DeliveryNotice& notice) override {
    static constexpr const char* kNames[] = {"holding", "released", "not-typed", "unicode", "warning"};
    Call(kNames[static_cast<int>(notice.kind)], notice.port_number);
    if (notice.kind == DeliveryNotice::Kind::kWarning) failure_reasons.push_back(notice.detail);
  }

  void RequestProblem(int port, const std::string& problem) override {
    Call("request-problem", port);
    failure_reasons.push_back(problem);
  }
  void RequestsAnswered(int port) override { Call("answered", port); }

  int pulls = 0;

 private:
  void Call(const char* what, int port) { calls.push_back(std::string(what) + " COM" + std::to_string(port)); }
};

}  // namespace lintrel::testing
