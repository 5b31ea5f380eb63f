// What the report says of a long option it does not know, with option
// tables that make a start ambiguous, which its own does not yet.
#include "command_line.h"

#include <getopt.h>
#include <gtest/gtest.h>

namespace {

TEST(CommandLine, AnUnknownOrAmbiguousLongOptionIsNamedWithoutItsValue) {
    const option table[] = {
        {"since", required_argument, nullptr, 1},
        {"svg", required_argument, nullptr, 2},
        {"format", required_argument, nullptr, 'f'},
        {nullptr, 0, nullptr, 0},
    };
    const struct {
        const char *argument, *problem;
    } cases[] = {
        {"--s", "ambiguous option --s: could be --since, --svg"},
        {"--s=2026-12-01", "ambiguous option --s: could be --since, --svg"},
        {"--colour", "unknown option --colour"},
        {"--colour=red", "unknown option --colour"},
        {"--formats", "unknown option --formats"},
    };
    for (const auto &c : cases) {
        char problem[160];
        SayWhyNoLongOption(c.argument, table, problem, sizeof problem);
        EXPECT_STREQ(problem, c.problem) << c.argument;
    }
}

TEST(CommandLine, AProblemIsCutToItsBuffer) {
    const option table[] = {
        {"since", required_argument, nullptr, 1},
        {"svg", required_argument, nullptr, 2},
        {nullptr, 0, nullptr, 0},
    };
    char problem[12];
    SayWhyNoLongOption("--s", table, problem, sizeof problem);
    EXPECT_STREQ(problem, "ambiguous o");
}

}  // namespace
