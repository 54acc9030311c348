#include <gtest/gtest.h>

#include "ui/qt_prompter.h"
#include "ui/ui_test_support.h"

namespace kolvena::ui {
namespace {

// The program's filters ("Description|pattern|...||") as Qt file-dialog filters.
TEST(QtFileFilter, ReadsDescriptionAndPatternPairs) {
    const struct {
        const char* filter;
        const char* expected;
    } cases[] = {
        // The program's own.
        {"Text files (*.txt)|*.txt|All files (*.*) | *.* ||",
         "Text files (*.txt);;All files (*.*)"},
        {"Kolvena会话记录 (*.prs)|*.prs|All files (*.*) | *.* ||",
         "Kolvena会话记录 (*.prs);;All files (*.*)"},
        {"All files (*.*) | *.* ||", "All files (*.*)"},
        // Odd ones.
        {"", ""},
        {"||", ""},
        {"Text files (*.txt)|*.txt", "Text files (*.txt)"},
        {"  Text files (*.txt)  |  *.txt  |", "Text files (*.txt)"},
        {"Pictures|*.png *.jpg||", "Pictures (*.png *.jpg)"},
        {"|*.txt|All files (*.*)|*.*||", "All files (*.*)"},
        {"Text files (*.txt)| |All files (*.*)|*.*", "All files (*.*)"},
        {"Text files (*.txt)|*.txt|dangling", "Text files (*.txt)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(QtFileFilter(c.filter), QString(c.expected)) << c.filter;
}

} // namespace
} // namespace kolvena::ui
