// The result document: the one text Copy, Create File and Print hand over.
//   N "!=" CR LF, the plain text, CR LF, "Number of digits: " and the count grouped.
#pragma once

#include <string>

#include "engine/run_state.h"

namespace kaldrome {

// Composes the document from rs.Target, rs.PlainText and rs.DigitCount; changes nothing.
std::string ComposeResultDocument(const RunState& rs);

}  // namespace kaldrome
