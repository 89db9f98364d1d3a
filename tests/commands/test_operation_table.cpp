// The operation table drives the recorder, the replay and the menus; these
// tests walk every row, so a new operation is covered by its row alone.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "commands/command_table.h"
#include "commands/macro_format.h"
#include "commands/operation_table.h"
#include "core/cp932.h"
#include "support/param_support.h"

namespace lumadrift {
namespace {

std::vector<const OperationRow*> RowsWithFields()
{
    std::vector<const OperationRow*> rows;
    for (const OperationRow& r : OperationTable())
        if (r.params)
            rows.push_back(&r);
    return rows;
}

TEST(OperationTable, CodesAndNamesAreUniqueAndEveryRowReplays)
{
    std::set<int> codes;
    std::set<std::string> names;
    for (const OperationRow& r : OperationTable()) {
        SCOPED_TRACE(r.code);
        EXPECT_TRUE(codes.insert(r.code).second);
        EXPECT_TRUE(names.insert(r.name).second);
        EXPECT_TRUE(r.replay != nullptr);
        EXPECT_TRUE(r.code > 0 && r.code < kOperationSlots);
        if (r.params) {
            EXPECT_TRUE(r.parameterLine);
        }
    }
}

// The menu never offers what a replayed line of the same operation would
// refuse in that state.
TEST(OperationTable, MenusOfferOnlyWhatReplayAccepts)
{
    for (const CommandInfo& c : CommandTable()) {
        if (c.code < 0)
            continue;
        for (int state = 0; state <= kStateCamera; ++state) {
            for (int steps = 0; steps < 4; ++steps) {
                CommandContext ctx;
                ctx.state = state;
                ctx.undoAvailable = steps & 1;
                ctx.redoAvailable = steps & 2;
                ctx.cameraEnabled = true;
                ctx.recentFiles = 1;
                if (EvaluateCommand(c.id, ctx).enabled) {
                    EXPECT_EQ(CheckOperation(c.code, state, ctx.undoAvailable, ctx.redoAvailable), 0)
                        << "command " << c.id << " state " << state;
                }
            }
        }
    }
}

class OperationLine : public ::testing::TestWithParam<const OperationRow*> {};

// struct -> parameter line -> struct keeps every field of the line.
TEST_P(OperationLine, RoundTripsEveryField)
{
    const OperationRow& row = *GetParam();
    test::OwnedParams in(*row.params), out(*row.params);
    test::FillDistinct(*row.params, in.get(), 3);
    const std::string line = FormatParameterLine(*row.params, in.get());
    ASSERT_TRUE(ParseParameterLine(*row.params, Words(Utf8ToCp932(line)), "/base", out.get())) << line;
    test::ExpectSameFields(*row.params, in.get(), out.get(), true);
    EXPECT_EQ(FormatParameterLine(*row.params, out.get()), line);
}

// A line that lacks a word, or holds a number word longer than the format
// allows, or an empty path, is refused and never half-read into a step.
TEST_P(OperationLine, RefusesShortLinesOverlongNumbersAndEmptyPaths)
{
    const OperationRow& row = *GetParam();
    test::OwnedParams in(*row.params), out(*row.params);
    test::FillDistinct(*row.params, in.get(), 4);
    const std::string line = FormatParameterLine(*row.params, in.get());
    const std::vector<std::string> words = SplitWords(line);
    std::string shorter;
    for (size_t i = 0; i + 1 < words.size(); ++i)
        shorter += words[i] + " ";
    EXPECT_FALSE(ParseParameterLine(*row.params, Words(Utf8ToCp932(shorter)), "/base", out.get()));
    size_t i = 0;
    for (const ParamField& f : *row.params) {
        if (!f.label)
            continue;
        std::vector<std::string> bad = words;
        if (f.type == FieldType::kInt || f.type == FieldType::kReal)
            bad[i] = std::string(f.label) + "=" + std::string(24, '1');
        else if (f.type == FieldType::kPath)
            bad[i] = std::string(f.label) + "=";
        else {
            ++i;
            continue;
        }
        std::string text;
        for (const auto& w : bad)
            text += w + " ";
        EXPECT_FALSE(ParseParameterLine(*row.params, Words(Utf8ToCp932(text)), "/base", out.get())) << text;
        ++i;
    }
}

INSTANTIATE_TEST_SUITE_P(EveryOperation, OperationLine, ::testing::ValuesIn(RowsWithFields()),
                         [](const auto& info) { return "code" + std::to_string(info.param->code); });

}  // namespace
}  // namespace lumadrift
