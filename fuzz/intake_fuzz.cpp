// One input line through intake, as the reader hands it over (no line feed inside). Whatever the
// bytes, intake either accepts an object or answers with a well-formed line of its own.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_support.h"
#include "server/intake.h"
#include "server/line_writer.h"

using namespace tavren;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view line(reinterpret_cast<const char*>(data), size);
  if (line.find('\n') != std::string_view::npos) return -1;  // the reader splits there
  IntakeResult taken = takeInLine(line);
  std::string answer;
  if (auto* rejected = std::get_if<RejectedLine>(&taken)) {
    answer = protocolLineText(responseObject(rejected->id, std::nullopt, rejected->message));
  } else {
    const auto& accepted = std::get<AcceptedRequest>(taken);
    if (!accepted.request.is_object()) fuzz::fail("accepted a request that is not an object", line);
    // The accepted request must survive serialisation, as handlers echo parts of it.
    answer = protocolLineText(responseObject(accepted.id, accepted.request, std::nullopt));
  }
  if (std::string problem = fuzz::responseLineProblem(answer); !problem.empty()) {
    fuzz::fail(problem + ": " + answer, line);
  }
  return 0;
}
