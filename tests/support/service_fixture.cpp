#include "support/service_fixture.h"

namespace tavren::testing {

std::string fixturePath(const std::string& name) {
  return std::string(TAVREN_FIXTURES_DIR) + "/" + name;
}
#ifdef TAVREN_SERVICE_BINARY
std::string serviceBinary() { return TAVREN_SERVICE_BINARY; }
#else
std::string serviceBinary() { return "/nonexistent/tavren-service"; }
#endif
std::string fakeServiceBinary() { return TAVREN_FAKE_SERVICE_BINARY; }

std::unique_ptr<ServiceProcess> startService(const std::vector<std::string>& argv,
                                             const std::map<std::string, std::string>& env) {
  std::string error;
  auto p = ServiceProcess::start(argv, env, &error);
  EXPECT_NE(p, nullptr) << error;
  return p;
}

Json call(ServiceProcess& service, const std::string& id, const std::string& method,
          const std::string& paramsJson) {
  service.send(requestLine(id, method, paramsJson));
  auto line = service.responseFor(id, kReplyTimeout);
  if (!line) return Json(Json::value_t::discarded);
  return Json::parse(*line, nullptr, false);
}

void expectQuietExit(ServiceProcess& service) {
  service.closeInput();
  EXPECT_EQ(service.wait(std::chrono::seconds(10)), 0);
  EXPECT_EQ(service.errorOutput(), "");
  EXPECT_EQ(service.partialOutput(), "");
}

}  // namespace tavren::testing
