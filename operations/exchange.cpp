#include "control/tarvane.h"
#include "link/exchange.h"

namespace kestova {

std::int16_t Tarvane::Exchange(const ExchangePlan& plan) {
  const LinkEnvironment env{*port_, host_, host_.OwnFolder(),
                            [this](const std::string& text) { Raise(text); }, line_};
  ExchangeSettings settings;
  settings.routing = Routing{StationNo(), NetworkNo(), PCNumber(), RqstDestMdIO(), RqstDestMdSta()};
  settings.sum_check = SumCheck();
  settings.timeout_seconds = Timeout();
  return RunExchange(env, settings, plan);
}

}  // namespace kestova
