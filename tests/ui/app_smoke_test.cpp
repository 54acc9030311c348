#include <csignal>
#include <gtest/gtest.h>

#include "record/record_test_util.h"
#include "support/child_process.h"

namespace kolvena::test {
namespace {

using namespace std::chrono_literals;

// The real program in a home of its own; on SIGTERM, as at logout, it closes without asking.
TEST(AppSmoke, StartsShowsItsWindowAndQuitsOnSigterm) {
    const TempDir home;
    ChildOptions options;
    options.environment = {"QT_QPA_PLATFORM=offscreen",
                           "QT_LOGGING_RULES=kolvena.app.info=true",
                           "HOME=" + home.Path(),
                           "XDG_RUNTIME_DIR=" + home.Path(),
                           "XDG_CONFIG_HOME=" + home.File("config"),
                           "XDG_DATA_HOME=" + home.File("data")};
    ChildProcess app(KOLVENA_APP_PATH, {}, options);
    ASSERT_GT(app.Pid(), 0);
    ASSERT_TRUE(app.WaitForLine("kolvena.app: window shown", 30s)) << app.Output();
    app.Signal(SIGTERM);
    EXPECT_EQ(app.WaitForExit(10s), 0) << app.Output();
}

} // namespace
} // namespace kolvena::test
