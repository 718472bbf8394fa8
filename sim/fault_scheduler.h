#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "sim/fault.h"
#include "sim/station.h"

namespace kestova::sim {

// Everything the active faults ask of one answer, merged.
struct AnswerPlan {
  std::chrono::milliseconds delay{0};
  bool send_anyway = false;
  bool no_answer = false;
  std::optional<std::size_t> cut;
  bool bad_sum = false;
  std::vector<std::uint8_t> noise_before;
  std::vector<std::uint8_t> noise_after;
  bool twice = false;
  std::optional<std::uint16_t> end_code;
  std::chrono::milliseconds trickle_gap{0};
  bool echo = false;
  bool broken_frame = false;
  std::chrono::milliseconds hold{0};
  std::vector<std::string> applied;  // descriptions of the faults that fired
};

// Decides, request by request, which injected faults apply. Not thread-safe: its owner
// locks.
class FaultScheduler {
 public:
  void Add(const Fault& fault, int next_requests);
  void Add(const Fault& fault, double probability, std::uint32_t seed);
  void Clear() { rules_.clear(); }
  bool empty() const { return rules_.empty(); }

  // The plan for the next request; counted rules are used up by it.
  AnswerPlan Next();

 private:
  struct Rule {
    Fault fault;
    int remaining = 0;          // counted rule
    double probability = -1.0;  // probability rule when >= 0
    std::mt19937 random;
  };

  static void Merge(const Fault& fault, AnswerPlan& plan);

  std::vector<Rule> rules_;
};

// The bytes that go on the line for `answer` under `plan`: the echo of `request`, a
// broken frame, noise before, the answer (cut, and repeated when asked), noise after.
// Empty for a plan with no answer. The hold is the server's, after these bytes.
std::vector<std::uint8_t> ShapeAnswer(const Answer& answer, const AnswerPlan& plan, bool sum_check,
                                      std::span<const std::uint8_t> request = {});

}  // namespace kestova::sim
