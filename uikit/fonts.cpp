#include "uikit/fonts.h"

#include <QFont>
#include <QStringList>

namespace kaldrome {

void InstallFontSubstitutions() {
    // Liberation Sans and Mono share the metrics of Arial and Courier New, so
    // every caption keeps the width it was laid out for; DejaVu is wider.
    QFont::insertSubstitutions("MS Sans Serif", {"Liberation Sans", "Arimo", "Arial"});
    QFont::insertSubstitutions("Courier New", {"Liberation Mono", "Cousine", "DejaVu Sans Mono"});
}

}  // namespace kaldrome
