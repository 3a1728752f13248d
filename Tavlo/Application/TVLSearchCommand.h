#pragma once
// `tavlo search QUERY [PATH]`: the exchanges whose prompts and answers match a full-text query,
// best first, across the default log roots or under PATH, from the library index.

#include "TVLCommand.h"

namespace TVLSearchCommand {
TVLCommand command();
} // namespace TVLSearchCommand
