#include "resulttext/result_text.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace kaldrome {

namespace {

// Prefix by the number of decimal digits of the limb's value (0 for the value 0).
constexpr std::array<std::string_view, 8> Prefixes = {
    "  0000000", "  000000", "  00000", "  0000", "  000", "  00", "  0", "  ",
};

int DecimalDigits(int32_t v) {
    int d = 0;
    while (v > 0) {
        v /= 10;
        ++d;
    }
    return d;
}

// Appends FormatGroup(limb) without a temporary string.
inline void AppendGroup(std::string& text, int32_t limb) {
    const std::string_view prefix = Prefixes[static_cast<std::size_t>(DecimalDigits(limb))];
    text.append(prefix);
    if (limb > 0) {
        char buf[8];
        const auto res = std::to_chars(buf, buf + sizeof buf, limb);
        text.append(buf, res.ptr);
    }
}

}  // namespace

std::string FormatGroup(int32_t limb) {
    std::string group;
    group.reserve(GroupLength);
    AppendGroup(group, limb);
    return group;
}

std::size_t TextLength(int64_t g, int perLine) {
    return static_cast<std::size_t>(GroupLength * g + 2 * (g / perLine));
}

std::string SmallResultText(int32_t target) {
    static constexpr char SmallResultDigits[] = {'1', '1', '2', '6'};
    return std::string("  000000") + SmallResultDigits[target];
}

void BreakDisplayLine(RunState& rs) {
    ++rs.GroupCount;
    if (rs.GroupCount % DisplayGroupsPerLine == 0) rs.DisplayText.append(CrLf);
}

void BreakPlainLine(RunState& rs) {
    ++rs.GroupCount;
    if (rs.GroupCount % PlainGroupsPerLine == 0) rs.PlainText.append(CrLf);
}

void RenderDisplayText(RunState& rs) {
    rs.DisplayText.reserve(rs.DisplayText.size() + TextLength(rs.LimbCount, DisplayGroupsPerLine));
    for (int32_t k = rs.LimbCount; k >= 1; --k) {
        AppendGroup(rs.DisplayText, rs.Limbs(k));
        BreakDisplayLine(rs);
    }
}

void BuildPlainText(RunState& rs) {
    rs.PlainText.clear();
    rs.GroupCount = 0;
    rs.PlainText.reserve(TextLength(rs.LimbCount, PlainGroupsPerLine));
    for (int32_t k = rs.LimbCount; k >= 1; --k) {
        AppendGroup(rs.PlainText, rs.Limbs(k));
        BreakPlainLine(rs);
    }
}

bool StreamPlainText(const RunState& rs, const TextSink& sink, std::size_t chunkBytes) {
    if (rs.PlainTextReady) return sink(rs.PlainText);
    // A piece ends on whole groups, each with its line end where one falls due.
    const std::size_t groupsPerPiece =
        std::max<std::size_t>(PlainGroupsPerLine, chunkBytes / (GroupLength + 1));
    std::string piece;
    piece.reserve(groupsPerPiece * (GroupLength + 2));
    int64_t groups = 0;
    for (int32_t k = rs.LimbCount; k >= 1; --k) {
        AppendGroup(piece, rs.Limbs(k));
        if (++groups % PlainGroupsPerLine == 0) piece.append(CrLf);
        if (piece.size() + GroupLength + 2 > chunkBytes || k == 1) {
            if (!sink(piece)) return false;
            piece.clear();
        }
    }
    return true;
}

std::size_t PlainTextLength(const RunState& rs) {
    return rs.PlainTextReady ? rs.PlainText.size() : TextLength(rs.LimbCount, PlainGroupsPerLine);
}

int32_t CountDigits(const RunState& rs) {
    return DecimalDigits(rs.Limbs(rs.LimbCount)) + LimbDigits * (rs.LimbCount - 1);
}

}  // namespace kaldrome
