#include "operations/operation_context.h"

namespace kestova::operations {

std::int16_t OperationContext::Exchange(const ExchangePlan& plan) {
  const LinkEnvironment env{port_, host_, host_.OwnFolder(),
                            [this](const std::string& text) { Raise(text); }, line_};
  const Configuration& c = configuration_;
  ExchangeSettings settings;
  settings.routing = Routing{c.StationNo(), c.NetworkNo(), c.PCNumber(), c.RqstDestMdIO(), c.RqstDestMdSta()};
  settings.sum_check = c.SumCheck();
  settings.timeout_seconds = c.Timeout();
  return RunExchange(env, settings, plan);
}

}  // namespace kestova::operations
