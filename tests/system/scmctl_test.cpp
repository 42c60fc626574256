// scmctl against a real service of the database: the probe on the service
// framework.
#include "support/childprocess.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using testsupport::Child;
using testsupport::TempDir;

namespace {

TEST(Scmctl, StartsQueriesAndStopsAService) {
    TempDir dir;
    const std::string env = "TRIVANE_SCM_DIR=" + (dir / "scm");
    Child install({PROBE_PATH, "-im"}, {env});
    ASSERT_EQ(install.wait(), 0);

    struct Step {
        std::vector<std::string> args;
        int status;
        std::string output;  // a prefix of what it prints
    };
    const Step steps[] = {
        {{"query", "Trivane Probe Service"}, 0, "Trivane Probe Service: stopped\n"},
        {{"start", "trivane probe service"}, 0, "trivane probe service: running (pid "},
        {{"start", "trivane probe service"}, 1, "scmctl: StartService failed (1056)\n"},
        {{"stop", "trivane probe service"}, 0, "trivane probe service: stopped\n"},
        {{"stop", "trivane probe service"}, 1, "scmctl: ControlService failed (1062)\n"},
        {{"query", "other service"}, 1, "scmctl: OpenService failed (1060)\n"},
        {{"restart", "trivane probe service"}, 2, "usage: scmctl start|stop|query SERVICE-NAME\n"},
    };
    for (const Step& step : steps) {
        std::vector<std::string> argv{SCMCTL_PATH};
        argv.insert(argv.end(), step.args.begin(), step.args.end());
        Child tool(argv, {env});
        EXPECT_EQ(tool.wait(40), step.status) << step.args[0];
        EXPECT_EQ(tool.output().substr(0, step.output.size()), step.output) << tool.output();
    }
}

}  // namespace
