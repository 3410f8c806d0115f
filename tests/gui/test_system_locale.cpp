// The separators of the user's numeric locale: resolved as the C library does
// (LC_ALL, then LC_NUMERIC, then LANG), taken from the C library's locale data
// where it has the locale, and handed to the window.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <optional>

#include "base/number_format.h"
#include "mainwindow/form1.h"
#include "uikit/system_locale.h"

namespace {

constexpr const char* Variables[] = {"LC_ALL", "LC_NUMERIC", "LANG", "LOCPATH"};

// A locale of our own that neither Qt nor the machine knows: no-break spaces
// group the thousands and a comma marks the decimals. Built with the C
// library's own tool into a private folder (LOCPATH), so nothing on the machine
// changes.
constexpr char OwnLocaleSource[] =
    "LC_CTYPE\ncopy \"i18n\"\nEND LC_CTYPE\n"
    "LC_NUMERIC\n"
    "decimal_point \"<U002C>\"\n"
    "thousands_sep \"<U00A0>\"\n"
    "grouping 3;3\n"
    "END LC_NUMERIC\n";

QString Nbsp() {
    return QString(QChar(0x00a0));
}

}  // namespace

class SystemLocaleTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        for (const char* v : Variables) saved_ << qgetenv(v);
        QVERIFY(folder_.isValid());
        // The own locale in UTF-8 and in Latin-1 (where the no-break space is one byte).
        const QString localedef = QStandardPaths::findExecutable("localedef");
        const bool haveSources = QFile::exists("/usr/share/i18n/locales/i18n") &&
                                 (QFile::exists("/usr/share/i18n/charmaps/UTF-8.gz") ||
                                  QFile::exists("/usr/share/i18n/charmaps/UTF-8"));
        if (localedef.isEmpty() || !haveSources) return;
        QFile source(folder_.filePath("kd_TEST"));
        QVERIFY(source.open(QIODevice::WriteOnly) && source.write(OwnLocaleSource) > 0);
        source.close();
        ownLocales_ = true;
        for (const char* charmap : {"UTF-8", "ISO-8859-1"}) {
            QProcess build;
            build.start(localedef, {"-c", "-i", source.fileName(), "-f", charmap,
                                    folder_.filePath(QStringLiteral("kd_TEST.") + charmap)});
            QVERIFY(build.waitForFinished(60000));
            // -c writes the locale despite the categories it leaves out.
            ownLocales_ = ownLocales_ && QFile::exists(folder_.filePath(QStringLiteral("kd_TEST.") +
                                                                        charmap + "/LC_NUMERIC"));
        }
    }

    void cleanup() {
        for (int i = 0; i < saved_.size(); ++i) {
            if (saved_[i].isNull())
                qunsetenv(Variables[i]);
            else
                qputenv(Variables[i], saved_[i]);
        }
    }

    void separators_data() {
        // The variables (an empty text: unset), whether the C library also searches
        // the tests' own folder (LOCPATH), and the separators expected.
        QTest::addColumn<QString>("all");
        QTest::addColumn<QString>("numeric");
        QTest::addColumn<QString>("lang");
        QTest::addColumn<bool>("searched");
        QTest::addColumn<QString>("group");
        QTest::addColumn<QString>("decimal");
        QTest::newRow("LC_NUMERIC German, LANG C") << ""
                                                   << "de_DE.UTF-8"
                                                   << "C" << false << "."
                                                   << ",";
        QTest::newRow("LC_NUMERIC German, LANG unset") << ""
                                                       << "de_DE.UTF-8"
                                                       << "" << false << "."
                                                       << ",";
        QTest::newRow("LC_NUMERIC German, LANG English") << ""
                                                         << "de_DE.UTF-8"
                                                         << "en_US.UTF-8" << false << "."
                                                         << ",";
        QTest::newRow("LC_NUMERIC C, LANG German") << ""
                                                   << "C"
                                                   << "de_DE.UTF-8" << false << ","
                                                   << ".";
        QTest::newRow("LC_ALL English over LC_NUMERIC German") << "en_US.UTF-8"
                                                               << "de_DE.UTF-8"
                                                               << "" << false << ","
                                                               << ".";
        QTest::newRow("LC_ALL German over LANG C") << "de_DE.UTF-8"
                                                   << ""
                                                   << "C" << false << "."
                                                   << ",";
        QTest::newRow("LANG German alone") << ""
                                           << ""
                                           << "de_DE.UTF-8" << false << "."
                                           << ",";
        QTest::newRow("nothing set") << ""
                                     << ""
                                     << "" << false << ","
                                     << ".";
        QTest::newRow("C.UTF-8") << ""
                                 << "C.UTF-8"
                                 << "de_DE.UTF-8" << false << ","
                                 << ".";
        QTest::newRow("a locale nobody knows") << ""
                                               << "xx_YY.UTF-8"
                                               << "de_DE.UTF-8" << false << ","
                                               << ".";
        // With a search path of one's own (LOCPATH), the C library looks there first.
        QTest::newRow("a locale nobody knows, own folder searched") << ""
                                                                    << "xx_YY.UTF-8"
                                                                    << "de_DE.UTF-8" << true << ","
                                                                    << ".";
        QTest::newRow("C.UTF-8, own folder searched") << ""
                                                      << "C.UTF-8"
                                                      << "de_DE.UTF-8" << true << ","
                                                      << ".";
        // Only the C library knows these: it has the last word where it has the locale.
        QTest::newRow("own locale, UTF-8") << ""
                                           << "kd_TEST.UTF-8"
                                           << "C" << true << Nbsp() << ",";
        QTest::newRow("own locale, Latin-1") << ""
                                             << "kd_TEST.ISO-8859-1"
                                             << "en_US.UTF-8" << true << Nbsp() << ",";
        QTest::newRow("own locale under LC_ALL") << "kd_TEST.UTF-8"
                                                 << "en_US.UTF-8"
                                                 << "" << true << Nbsp() << ",";
    }

    void separators() {
        QFETCH(QString, all);
        QFETCH(QString, numeric);
        QFETCH(QString, lang);
        QFETCH(bool, searched);
        QFETCH(QString, group);
        QFETCH(QString, decimal);
        if ((all + numeric).contains("kd_TEST") && !ownLocales_)
            QSKIP("localedef or the locale sources (package locales) are missing");
        const QString values[] = {all, numeric, lang, searched ? folder_.path() : QString()};
        for (int i = 0; i < 4; ++i) {
            if (values[i].isEmpty())
                qunsetenv(Variables[i]);
            else
                qputenv(Variables[i], values[i].toLocal8Bit());
        }
        const kaldrome::NumberSeparators s = kaldrome::SystemSeparators();
        QCOMPARE(QString::fromStdString(s.group), group);
        QCOMPARE(QString::fromStdString(s.decimal), decimal);
        // The window takes them when it is made, for its labels and the document.
        kaldrome::Form1 w;
        QCOMPARE(QString::fromStdString(w.Separators().group), group);
        QCOMPARE(QString::fromStdString(kaldrome::FormatGrouped(1234, w.Separators())),
                 "1" + group + "234");
    }

  private:
    QTemporaryDir folder_;
    QList<QByteArray> saved_;
    bool ownLocales_ = false;
};

QTEST_MAIN(SystemLocaleTest)
#include "test_system_locale.moc"
