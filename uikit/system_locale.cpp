#include "uikit/system_locale.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <QByteArray>
#include <QString>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace kaldrome {

namespace {

// newlocale for the categories in mask. The C library (glibc 2.36) builds its
// search path from LOCPATH on every call and never frees it; under the leak
// checker that buffer is not ours to report. Only calls made while LOCPATH is
// set are hidden, so a locale we forget to free still shows everywhere else.
locale_t NewLocale(int mask, const char* name) {
#if defined(__SANITIZE_ADDRESS__)
    const char* path = std::getenv("LOCPATH");
    if (path != nullptr && *path != '\0') {
        __lsan::ScopedDisabler unreported;
        return newlocale(mask, name, static_cast<locale_t>(nullptr));
    }
#endif
    return newlocale(mask, name, static_cast<locale_t>(nullptr));
}

// The separators if both are set and tell apart; otherwise the defaults.
NumberSeparators Checked(const QString& group, const QString& decimal) {
    NumberSeparators separators;  // "," and "."
    if (group.isEmpty() || decimal.isEmpty() || group == decimal) return separators;
    separators.group = group.toStdString();
    separators.decimal = decimal.toStdString();
    return separators;
}

// The name of the numeric locale the environment asks for, in the C library's
// order; "C" when nothing is set.
QString NumericLocaleName() {
    for (const char* variable : {"LC_ALL", "LC_NUMERIC", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') return QString::fromLocal8Bit(value);
    }
    return QStringLiteral("C");
}

// text, written in codeset, as Unicode; nothing if it cannot be converted.
std::optional<QString> Decoded(const char* text, const char* codeset) {
    if (std::strcmp(codeset, "UTF-8") == 0) return QString::fromUtf8(text);
    const iconv_t convert = iconv_open("UTF-8", codeset);
    if (convert == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    std::string in(text);
    std::string out(in.size() * 4 + 4, '\0');
    char* inPtr = in.data();
    char* outPtr = out.data();
    std::size_t inLeft = in.size(), outLeft = out.size();
    const std::size_t done = iconv(convert, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(convert);
    if (done == static_cast<std::size_t>(-1) || inLeft != 0) return std::nullopt;
    return QString::fromUtf8(out.data(), static_cast<qsizetype>(out.size() - outLeft));
}

// The separators in the C library's data for the numeric locale; nothing when
// the machine does not have that locale (or its text cannot be read).
std::optional<NumberSeparators> CLibrarySeparators() {
    // newlocale with "" resolves the category from the environment exactly as
    // setlocale would, without touching the process's own locale.
    const locale_t numeric = NewLocale(LC_NUMERIC_MASK, "");
    if (numeric == static_cast<locale_t>(nullptr)) return std::nullopt;
    const std::string group = nl_langinfo_l(THOUSEP, numeric);
    const std::string decimal = nl_langinfo_l(RADIXCHAR, numeric);
    // The separators are written in the character set of the numeric locale's
    // own name (de_DE.ISO-8859-1 writes Latin-1 even under a UTF-8 LANG).
    const std::string name = nl_langinfo_l(NL_LOCALE_NAME(LC_NUMERIC), numeric);
    freelocale(numeric);
    const locale_t ctype = NewLocale(LC_CTYPE_MASK, name.c_str());
    const std::string codeset =
        ctype != static_cast<locale_t>(nullptr) ? nl_langinfo_l(CODESET, ctype) : "";
    if (ctype != static_cast<locale_t>(nullptr)) freelocale(ctype);
    if (codeset.empty()) return std::nullopt;
    const std::optional<QString> g = Decoded(group.c_str(), codeset.c_str());
    const std::optional<QString> d = Decoded(decimal.c_str(), codeset.c_str());
    if (!g || !d) return std::nullopt;
    return Checked(*g, *d);
}

}  // namespace

NumberSeparators SeparatorsFor(const QLocale& locale) {
    if (locale.language() == QLocale::C) return NumberSeparators{};
    return Checked(locale.groupSeparator(), locale.decimalPoint());
}

NumberSeparators SystemSeparators() {
    // Qt's system locale takes its language from LANG, and treats a numeric
    // locale under LANG=C as C: the numeric locale is looked up directly.
    if (const std::optional<NumberSeparators> fromC = CLibrarySeparators()) return *fromC;
    return SeparatorsFor(QLocale(NumericLocaleName()));
}

}  // namespace kaldrome
