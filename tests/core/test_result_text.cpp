// Result texts, digit counts and the result document, byte for byte.
#include <gtest/gtest.h>

#include "base/number_format.h"
#include "core/compute.h"
#include "core/gmp_oracle.h"
#include "engine/factorial_engine.h"
#include "resulttext/result_document.h"
#include "resulttext/result_text.h"

using namespace kaldrome;

namespace {

// The examples write a middle dot for a space and ⏎ for CR LF.
std::string Expand(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size();) {
        if (s.substr(i, 2) == "\xC2\xB7") {
            out += ' ';
            i += 2;
        } else if (s.substr(i, 3) == "\xE2\x8F\x8E") {
            out += "\r\n";
            i += 3;
        } else {
            out += s[i++];
        }
    }
    return out;
}

const NumberSeparators English{",", "."};

RunState Finished(int32_t n) {
    RunState rs;
    Compute(rs, n);
    if (!rs.PlainTextReady) BuildPlainText(rs);
    return rs;
}

// From the GMP digits: the text a correct renderer must give.
std::string OracleText(unsigned long n, int perLine) {
    const auto limbs = oracle::FactorialLimbs(n);
    std::string t;
    int g = 0;
    for (auto it = limbs.rbegin(); it != limbs.rend(); ++it) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "  %07d", *it);
        t += buf;
        if (++g % perLine == 0) t += "\r\n";
    }
    return t;
}

}  // namespace

TEST(FormatGroup, PadsEveryDigitCount) {
    const std::pair<int32_t, const char*> rows[] = {
        {0, "  0000000"},       {1, "  0000001"},       {9, "  0000009"},
        {10, "  0000010"},      {999, "  0000999"},     {1000, "  0001000"},
        {99999, "  0099999"},   {100000, "  0100000"},  {999999, "  0999999"},
        {1000000, "  1000000"}, {9999999, "  9999999"},
    };
    for (auto [v, want] : rows) EXPECT_EQ(FormatGroup(v), want) << v;
}

struct TextRow {
    int32_t n;
    const char* display;
    const char* plain;
    int32_t digits;
    bool ready;
};

TEST(ResultText, KnownTextsByteForByte) {
    const TextRow rows[] = {
        {0, "··0000001", "··0000001", 1, true},
        {1, "··0000001", "··0000001", 1, true},
        {2, "··0000002", "··0000002", 1, true},
        {3, "··0000006", "··0000006", 1, true},
        {4, "··0000024", "··0000024", 2, false},
        {10, "··3628800", "··3628800", 7, false},
        {11, "··0000003··9916800", "··0000003··9916800", 8, false},
        {12, "··0000047··9001600", "··0000047··9001600", 9, false},
        {25, "··0015511··2100433··3098598··4000000", "··0015511··2100433··3098598··4000000", 26,
         false},
        {30, "··0026525··2859812··1910586··3630848··0000000⏎",
         "··0026525··2859812··1910586··3630848··0000000", 33, false},
        {41, "··0000003··3452526··6131638··0710817··0062053⏎··4407516··6515200··0000000",
         "··0000003··3452526··6131638··0710817··0062053··4407516··6515200··0000000⏎", 50, false},
        {50,
         "··0000030··4140932··0171337··8043612··6081660⏎··6476884··4377641··5689605··1200000··"
         "0000000⏎",
         "··0000030··4140932··0171337··8043612··6081660··6476884··4377641··5689605⏎··1200000··"
         "0000000",
         65, false},
    };
    for (const TextRow& r : rows) {
        RunState rs;
        Compute(rs, r.n);
        EXPECT_EQ(rs.DisplayText, Expand(r.display)) << r.n;
        EXPECT_EQ(rs.PlainTextReady, r.ready) << r.n;
        EXPECT_EQ(rs.DigitCount, r.digits) << r.n;
        if (!rs.PlainTextReady) {
            EXPECT_TRUE(rs.PlainText.empty()) << r.n;
            BuildPlainText(rs);
            EXPECT_FALSE(rs.PlainTextReady);
        }
        EXPECT_EQ(rs.PlainText, Expand(r.plain)) << r.n;
    }
}

TEST(ResultText, MatchesGmpAndTheLengthFormulas) {
    for (int32_t n : {13, 40, 45, 99, 500, 1001, 2222, 7777}) {
        RunState rs = Finished(n);
        EXPECT_EQ(rs.DisplayText, OracleText(static_cast<unsigned long>(n), 5)) << n;
        EXPECT_EQ(rs.PlainText, OracleText(static_cast<unsigned long>(n), 8)) << n;
        EXPECT_EQ(rs.DisplayText.size(), TextLength(rs.LimbCount, 5));
        EXPECT_EQ(rs.PlainText.size(), TextLength(rs.LimbCount, 8));
    }
    EXPECT_EQ(TextLength(795'101, 5), 7'473'949u);
    EXPECT_EQ(TextLength(795'101, 8), 7'354'683u);
}

TEST(ResultText, RepeatedBuildsAreIdenticalAndLeaveTheDisplayAlone) {
    RunState rs;
    Compute(rs, 777);
    const std::string display = rs.DisplayText;
    BuildPlainText(rs);
    const std::string first = rs.PlainText;
    BuildPlainText(rs);
    EXPECT_EQ(rs.PlainText, first);
    EXPECT_EQ(rs.DisplayText, display);
}

TEST(NumberFormat, PatternsWithBothSeparatorSets) {
    struct Row {
        NumberSeparators seps;
        int64_t value;
        int minDigits;
        const char* want;
    };
    const NumberSeparators en{",", "."};
    const NumberSeparators de{".", ","};
    const Row rows[] = {
        {en, 0, 1, "0"},        {en, 7, 2, "07"},           {en, 1111, 2, "1,111"},
        {en, 999, 1, "999"},    {en, 1000, 1, "1,000"},     {en, 5565703, 1, "5,565,703"},
        {de, 1234, 1, "1.234"}, {de, 999999, 1, "999.999"}, {en, -1234, 1, "-1,234"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(FormatGrouped(r.value, r.seps, r.minDigits), r.want) << r.value;
    }
    EXPECT_EQ(FormatMinDigits(5), "05");
    EXPECT_EQ(FormatMinDigits(60), "60");
    const std::pair<double, const char*> decimals[] = {
        {0.1f, ".10"}, {42.857143f, "42.86"}, {100.0f, "100.00"},  {100.0f / 999999.0f, ".00"},
        {0.0, ".00"},  {1.005, "1.00"},       {99.995f, "100.00"},
    };
    for (auto [v, want] : decimals) EXPECT_EQ(FormatTwoDecimals(v, en), want) << v;
    EXPECT_EQ(FormatTwoDecimals(42.857143f, de), "42,86");
}

TEST(ResultDocument, KnownDocumentsByteForByte) {
    const std::pair<int32_t, const char*> rows[] = {
        {0, "0!=⏎··0000001⏎Number·of·digits:·1"},
        {1, "1!=⏎··0000001⏎Number·of·digits:·1"},
        {2, "2!=⏎··0000002⏎Number·of·digits:·1"},
        {10, "10!=⏎··3628800⏎Number·of·digits:·7"},
        {12, "12!=⏎··0000047··9001600⏎Number·of·digits:·9"},
        {41,
         "41!=⏎··0000003··3452526··6131638··0710817··0062053··4407516··6515200··0000000⏎⏎"
         "Number·of·digits:·50"},
        {50,
         "50!=⏎··0000030··4140932··0171337··8043612··6081660··6476884··4377641··5689605⏎"
         "··1200000··0000000⏎Number·of·digits:·65"},
    };
    for (auto [n, want] : rows)
        EXPECT_EQ(ComposeResultDocument(Finished(n), English), Expand(want)) << n;
}

TEST(ResultDocument, FooterGroupsWithTheLocaleHeaderNever) {
    const RunState rs = Finished(1000);
    const std::pair<NumberSeparators, const char*> rows[] = {
        {{",", "."}, "Number of digits: 2,568"},
        {{".", ","}, "Number of digits: 2.568"},
        {{"\xC2\xA0", ","},
         "Number of digits: 2\xC2\xA0"
         "568"},
    };
    for (const auto& [seps, footer] : rows) {
        const std::string doc = ComposeResultDocument(rs, seps);
        EXPECT_EQ(doc.substr(0, 8), "1000!=\r\n");
        EXPECT_EQ(doc.substr(doc.size() - std::string(footer).size()), footer);
    }
}

TEST(ResultDocument, ComposingChangesNothing) {
    RunState rs = Finished(321);
    const std::string plain = rs.PlainText;
    const std::string first = ComposeResultDocument(rs, English);
    EXPECT_EQ(ComposeResultDocument(rs, English), first);
    EXPECT_EQ(rs.PlainText, plain);
    EXPECT_FALSE(rs.PlainTextReady);
}

// Copy and Create File stream the document instead of composing it; the bytes
// must be the composed document's whatever the piece size, a small result
// (its text set without limbs) and a stop by the sink included.
TEST(ResultDocument, StreamedInPiecesIsTheComposedDocument) {
    for (const int32_t n : {0, 3, 4, 12, 25, 26, 1000, 30000}) {
        RunState rs;
        Compute(rs, n);
        for (const std::size_t chunk :
             {std::size_t{1}, std::size_t{10}, std::size_t{97}, std::size_t{1} << 16}) {
            SCOPED_TRACE("N " + std::to_string(n) + ", pieces of " + std::to_string(chunk));
            std::string streamed;
            const bool whole = StreamResultDocument(rs, English, [&](std::string_view piece) {
                streamed.append(piece);
                return true;
            });
            EXPECT_TRUE(whole);
            const RunState built = Finished(n);
            EXPECT_EQ(streamed, ComposeResultDocument(built, English));
            EXPECT_EQ(ResultDocumentLength(rs, English), streamed.size());
            if (n > 3) {
                EXPECT_TRUE(rs.PlainText.empty());  // nothing kept in the run
            }
            std::string plain;
            StreamPlainText(
                rs,
                [&](std::string_view piece) {
                    EXPECT_TRUE(n <= 3 || piece.size() <= std::max<std::size_t>(chunk, 11));
                    plain.append(piece);
                    return true;
                },
                chunk);
            EXPECT_EQ(plain, built.PlainText);
        }
        int pieces = 0;
        EXPECT_FALSE(
            StreamResultDocument(rs, English, [&](std::string_view) { return ++pieces < 2; }));
        EXPECT_EQ(pieces, 2);
    }
}
