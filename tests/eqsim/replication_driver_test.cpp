#include "eqsim/replication_driver.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace eqsim {
namespace {

std::string report_of(const ControlParameters& params, const std::string& data,
                      const SamplingChoice& sampling) {
    testing::TempDir dir;
    const std::string output = dir.file("report.txt");
    const Status status = run_replications(params, data, output, stdout, sampling);
    EXPECT_TRUE(status.is_ok()) << status.diagnostic();
    return testing::read_file(output);
}

TEST(RunReplications, EverySamplingPathGivesTheSameReportForEveryMethod) {
    testing::TempDir dir;
    // A second population with impossible scores and a longer old form.
    const std::string sparse =
        dir.write("sparse.dat",
                  "0 0 1\n3 1 2\n0 5 3\n12 0 4\n40 22 5\n25 40 6\n0 18 7\n9 6 8\n1 0 9\n* 2 10\n");
    for (const std::string& data : {testing::example_data_path(), sparse}) {
        for (const Method method : all_methods()) {
            if (design_of(method) != Design::random_groups) {
                continue;  // eqsim runs the random-groups design
            }
            ControlParameters params;
            params.method = method;
            params.smoothing = parameter_rule(method) == ParameterRule::degree ? 4.0 : 0.2;
            params.replications = 30;
            params.seed = 8675309;
            params.scale = ScaleSpec{1.0, 12.0, 1.0};
            const std::string fast = report_of(params, data, SamplingChoice{});
            ASSERT_FALSE(fast.empty());
            for (const double scale : {10.0, 1.0, 4096.0}) {
                EXPECT_EQ(report_of(params, data, SamplingChoice{false, scale}), fast)
                    << data << " method " << method_name(method) << " scale " << scale;
            }
        }
    }
}

TEST(MomentsFromSums, MeansAndStandardDeviationsOverReplications) {
    std::vector<double> sums = {6.0, 3.0, 1e8 * 3};
    std::vector<double> squares = {14.0, 3.0, 1e16 * 3};
    moments_from_sums(3, sums, squares);
    EXPECT_EQ(sums, (std::vector<double>{2.0, 1.0, 1e8}));
    EXPECT_DOUBLE_EQ(squares[0], std::sqrt(14.0 / 3.0 - 4.0));
    EXPECT_EQ(squares[1], 0.0);
    EXPECT_EQ(squares[2], 0.0);  // no spread, never the root of a rounding error below 0
}

}  // namespace
}  // namespace eqsim
