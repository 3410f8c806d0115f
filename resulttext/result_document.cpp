#include "resulttext/result_document.h"

#include "base/number_format.h"
#include "resulttext/result_text.h"

namespace kaldrome {

std::string DigitCountLine(int32_t digitCount, const NumberSeparators& separators) {
    return "Number of digits: " + FormatGrouped(digitCount, separators);
}

std::string DocumentHead(const RunState& rs) {
    return std::to_string(rs.Target) + "!=" + std::string(CrLf);
}

std::string DocumentTail(const RunState& rs, const NumberSeparators& separators) {
    return std::string(CrLf) + DigitCountLine(rs.DigitCount, separators);
}

bool StreamResultDocument(const RunState& rs, const NumberSeparators& separators,
                          const TextSink& sink) {
    return sink(DocumentHead(rs)) && StreamPlainText(rs, sink) &&
           sink(DocumentTail(rs, separators));
}

std::size_t ResultDocumentLength(const RunState& rs, const NumberSeparators& separators) {
    return DocumentHead(rs).size() + PlainTextLength(rs) + DocumentTail(rs, separators).size();
}

std::string ComposeResultDocument(const RunState& rs, const NumberSeparators& separators) {
    const std::string head = DocumentHead(rs);
    const std::string tail = DocumentTail(rs, separators);
    std::string doc;
    doc.reserve(head.size() + rs.PlainText.size() + tail.size());
    doc.append(head).append(rs.PlainText).append(tail);
    return doc;
}

}  // namespace kaldrome
