#pragma once

#include <string>

#include "platform/data_places.h"

namespace vantrel {

class ErrorBox;

// The base path under which data/ lies. Without a portable data folder the user's folder is the base; its
// data/ is made from the defaults when it does not exist yet, and used as it is when it does. Staging folders
// that an interrupted start left there are removed once stale. When no data/ can be found or made, one error
// box (and a line on standard error) says why, and the base has none, so the board listing finds nothing and
// the program runs empty.
std::string PrepareDataBase(const DataPlaces& places, ErrorBox& box);

}  // namespace vantrel
