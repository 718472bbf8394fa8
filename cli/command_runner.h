#pragma once
// Runs one control command on an open session and reports its outcome. Run-time errors
// of the control pass through to the caller, which reports them.

#include "cli/commands.h"
#include "cli/control_session.h"
#include "cli/exit_status.h"
#include "cli/reporter.h"

namespace kestova::cli {

class CommandRunner {
 public:
  CommandRunner(ControlSession& session, Reporter& reporter);

  ExitStatus Run(const ControlCommand& command);

 private:
  ExitStatus operator()(const ReadCommand& command);
  ExitStatus operator()(const WriteCommand& command);
  ExitStatus operator()(const BitCommand& command);
  ExitStatus operator()(const WriteBlockCommand& command);
  ExitStatus operator()(const RemoteCommand& command);
  ExitStatus operator()(const WatchCommand& command);

  ControlSession& session_;
  Reporter& reporter_;
};

}  // namespace kestova::cli
