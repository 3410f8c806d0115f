// The two renderings of a result and its digit count.
//
// A group is two spaces and one limb as seven digits with leading zeros. The
// display text puts five groups on a line, the plain text eight; lines end in
// CR LF, and the last line only when it is full.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "base/run_state.h"

namespace kaldrome {

inline constexpr std::string_view CrLf = "\r\n";
inline constexpr int GroupLength = 9;
inline constexpr int DisplayGroupsPerLine = 5;
inline constexpr int PlainGroupsPerLine = 8;

// The 9-character group of a limb value 0..9,999,999.
std::string FormatGroup(int32_t limb);

// Length of a text of g groups with a line break after every perLine groups.
std::size_t TextLength(int64_t g, int perLine);

// Texts of N = 0..3: one group, no line end.
std::string SmallResultText(int32_t target);

void BreakDisplayLine(RunState& rs);
void BreakPlainLine(RunState& rs);

// Builds DisplayText from Limbs(LimbCount) down to Limbs(1), appending to it.
void RenderDisplayText(RunState& rs);

// Empties PlainText and GroupCount, then builds PlainText from the limbs.
void BuildPlainText(RunState& rs);

// Takes one piece of a text in turn; returns false to stop.
using TextSink = std::function<bool(std::string_view)>;

// Hands sink the text BuildPlainText would build (PlainText itself when
// PlainTextReady), in pieces of at most chunkBytes, without holding it whole:
// for 999,999! that is 7 MB an export need not keep. Changes nothing in rs.
// Returns false when sink stopped it.
bool StreamPlainText(const RunState& rs, const TextSink& sink, std::size_t chunkBytes = 1 << 16);

// The length of that text.
std::size_t PlainTextLength(const RunState& rs);

// Digits of Limbs(LimbCount) plus 7 per lower limb.
int32_t CountDigits(const RunState& rs);

}  // namespace kaldrome
