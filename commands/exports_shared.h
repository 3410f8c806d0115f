// What the exports' two sources share: their texts, the line end, and a
// document held whole.
#pragma once

#include <QCoreApplication>
#include <QString>
#include <string>
#include <string_view>

#include "base/outcome.h"
#include "commands/exports.h"

namespace kaldrome::exports_shared {

// Every line of a document ends so, the last one too.
inline constexpr std::string_view LineEnd = "\r\n";

inline QString Tr(const char* text) {
    return QCoreApplication::translate("Exports", text);
}

inline Failure Told(const char* text) {
    return Failure{Tr(text).toStdString()};
}

inline DocumentSource Whole(const std::string& document) {
    return {
        [&document](const std::function<bool(std::string_view)>& sink) { return sink(document); },
        document.size()};
}

}  // namespace kaldrome::exports_shared
