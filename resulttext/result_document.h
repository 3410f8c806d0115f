// The result document: the one text Copy, Create File and Print hand over.
//   N "!=" CR LF, the plain text, CR LF, "Number of digits: " and the count grouped.
#pragma once

#include <cstdint>
#include <string>

#include "base/number_format.h"
#include "base/run_state.h"
#include "resulttext/result_text.h"

namespace kaldrome {

// "Number of digits: " and the count with "#,0": the document's footer, and
// what the window's digit label shows for a finished result.
std::string DigitCountLine(int32_t digitCount, const NumberSeparators& separators);

// Composes the document from rs.Target, rs.PlainText and rs.DigitCount; changes
// nothing. The separators group the footer's count.
std::string ComposeResultDocument(const RunState& rs, const NumberSeparators& separators);

// What the document holds before and after rs.PlainText: N "!=" CR LF, and CR LF
// with the footer. An export can hand the three pieces on in turn instead of a
// composed copy, which for 999,999! is another 7 MB.
std::string DocumentHead(const RunState& rs);
std::string DocumentTail(const RunState& rs, const NumberSeparators& separators);

// Hands sink the document in pieces: the head, the plain text streamed from the
// limbs (StreamPlainText), the tail. The bytes are those ComposeResultDocument
// gives once BuildPlainText has run, and the total is ResultDocumentLength.
// Returns false when sink stopped it.
bool StreamResultDocument(const RunState& rs, const NumberSeparators& separators,
                          const TextSink& sink);
std::size_t ResultDocumentLength(const RunState& rs, const NumberSeparators& separators);

}  // namespace kaldrome
