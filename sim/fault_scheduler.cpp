#include "sim/fault_scheduler.h"

#include <algorithm>

namespace kestova::sim {

void FaultScheduler::Add(const Fault& fault, int next_requests) {
  if (next_requests <= 0) return;
  rules_.push_back({fault, next_requests, -1.0, {}});
}

void FaultScheduler::Add(const Fault& fault, double probability, std::uint32_t seed) {
  rules_.push_back({fault, 0, std::clamp(probability, 0.0, 1.0), std::mt19937(seed)});
}

AnswerPlan FaultScheduler::Next() {
  AnswerPlan plan;
  for (auto& rule : rules_) {
    bool fires = false;
    if (rule.probability >= 0.0) {
      // Compared on the raw 32-bit draw so a seed gives the same run on every library.
      const double draw = static_cast<double>(rule.random()) / 4294967296.0;
      fires = draw < rule.probability;
    } else if (rule.remaining > 0) {
      --rule.remaining;
      fires = true;
    }
    if (fires) Merge(rule.fault, plan);
  }
  std::erase_if(rules_, [](const Rule& r) { return r.probability < 0.0 && r.remaining == 0; });
  return plan;
}

void FaultScheduler::Merge(const Fault& fault, AnswerPlan& plan) {
  plan.applied.push_back(fault.Describe());
  switch (fault.kind) {
    case Fault::Kind::Delay:
      plan.delay = std::max(plan.delay, fault.duration);
      plan.send_anyway = plan.send_anyway || fault.send_anyway;
      break;
    case Fault::Kind::NoAnswer:
      plan.no_answer = true;
      break;
    case Fault::Kind::Cut:
      plan.cut = std::min(plan.cut.value_or(fault.count), fault.count);
      break;
    case Fault::Kind::BadSum:
      plan.bad_sum = true;
      break;
    case Fault::Kind::NoiseBefore:
      plan.noise_before.insert(plan.noise_before.end(), fault.noise.begin(), fault.noise.end());
      break;
    case Fault::Kind::NoiseAfter:
      plan.noise_after.insert(plan.noise_after.end(), fault.noise.begin(), fault.noise.end());
      break;
    case Fault::Kind::AnswerTwice:
      plan.twice = true;
      break;
    case Fault::Kind::EndCode:
      plan.end_code = fault.end_code;
      break;
    case Fault::Kind::Trickle:
      plan.trickle_gap = std::max(plan.trickle_gap, fault.duration);
      break;
    case Fault::Kind::Echo:
      plan.echo = true;
      break;
    case Fault::Kind::BrokenFrame:
      plan.broken_frame = true;
      break;
    case Fault::Kind::Hold:
      plan.hold = std::max(plan.hold, fault.duration);
      break;
  }
}

std::vector<std::uint8_t> ShapeAnswer(const Answer& answer, const AnswerPlan& plan, bool sum_check,
                                      std::span<const std::uint8_t> request) {
  if (plan.no_answer) return {};
  auto frame = EncodeAnswer(answer, sum_check, plan.bad_sum);
  if (plan.cut && *plan.cut < frame.size()) frame.resize(*plan.cut);
  if (!plan.echo && !plan.broken_frame && plan.noise_before.empty() && !plan.twice && plan.noise_after.empty()) {
    return frame;
  }
  std::vector<std::uint8_t> wire;
  if (plan.echo) wire.assign(request.begin(), request.end());
  if (plan.broken_frame) {
    // Broken by a lone DLE before 'A'; then a data DLE pair, STX and a false answer.
    const std::uint8_t broken[] = {0x10, 0x02, 0x0C, 0x00, 0xF8, 0x10, 0x41, 0x10};
    wire.insert(wire.end(), std::begin(broken), std::end(broken));
    const auto in_data = EncodeAnswer(Answer{answer.routing, 0x4031, {}}, sum_check);
    wire.insert(wire.end(), in_data.begin(), in_data.end());
  }
  wire.insert(wire.end(), plan.noise_before.begin(), plan.noise_before.end());
  wire.insert(wire.end(), frame.begin(), frame.end());
  if (plan.twice) wire.insert(wire.end(), frame.begin(), frame.end());
  wire.insert(wire.end(), plan.noise_after.begin(), plan.noise_after.end());
  return wire;
}

}  // namespace kestova::sim
