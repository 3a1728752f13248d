#pragma once
// `tavlo usage PROJECT_DIR [--per-message] [--html]`: the project's token-usage report.

#include "TVLCommand.h"

namespace TVLUsageCommand {
TVLCommand command();
} // namespace TVLUsageCommand
