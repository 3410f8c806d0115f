#include "resulttext/result_document.h"

#include "base/number_format.h"
#include "resulttext/result_text.h"

namespace kaldrome {

std::string DigitCountLine(int32_t digitCount, const NumberSeparators& separators) {
    return "Number of digits: " + FormatGrouped(digitCount, separators);
}

std::string ComposeResultDocument(const RunState& rs, const NumberSeparators& separators) {
    const std::string header = std::to_string(rs.Target);
    const std::string footer = DigitCountLine(rs.DigitCount, separators);
    std::string doc;
    doc.reserve(header.size() + 4 + rs.PlainText.size() + 2 + footer.size());
    doc.append(header).append("!=").append(CrLf);
    doc.append(rs.PlainText).append(CrLf);
    doc.append(footer);
    return doc;
}

}  // namespace kaldrome
