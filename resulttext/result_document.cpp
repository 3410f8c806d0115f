#include "resulttext/result_document.h"

#include "resulttext/number_format.h"
#include "resulttext/result_text.h"

namespace kaldrome {

std::string ComposeResultDocument(const RunState& rs) {
    static constexpr std::string_view kDigitsLabel = "Number of digits: ";
    const std::string header = std::to_string(rs.Target);
    const std::string count = FormatGrouped(rs.DigitCount);
    std::string doc;
    doc.reserve(header.size() + 4 + rs.PlainText.size() + 2 + kDigitsLabel.size() + count.size());
    doc.append(header).append("!=").append(CrLf);
    doc.append(rs.PlainText).append(CrLf);
    doc.append(kDigitsLabel).append(count);
    return doc;
}

}  // namespace kaldrome
