// Staged rollouts over 10,000 till identities: each share reached within 2 points, the same answer
// for the same till at every start, and no till dropped as the share grows.
#include <gtest/gtest.h>

#include <vector>

#include "update/rollout.h"
#include "update_testing.h"

namespace {

using namespace tovi::updater;

class UpdaterRollout : public tovi::updater_testing::WithOpenSsl {};

TEST_F(UpdaterRollout, SharesAreEvenStableAndMonotonic) {
    std::vector<std::string> tills;
    for (int i = 0; i < 10000; ++i) tills.push_back(newTillId(ssl_->crypto));
    ASSERT_TRUE(isTillId(tills[0]));
    const int shares[] = {1, 5, 10, 25, 50, 75, 99, 100};
    for (const char* version : {"2.0", "2.1"}) {
        std::vector<bool> had(tills.size(), false);
        for (const int share : shares) {
            int taking = 0;
            for (std::size_t i = 0; i < tills.size(); ++i) {
                const bool takes = takesRelease(ssl_->crypto, tills[i], version, share);
                EXPECT_EQ(takes, takesRelease(ssl_->crypto, tills[i], version, share)) << tills[i];
                ASSERT_TRUE(takes || !had[i]) << "dropped at " << share << "%: " << tills[i];
                had[i] = takes;
                taking += takes;
            }
            EXPECT_NEAR(taking / 100.0, share, 2.0) << version << " at " << share << "%";
        }
    }
    // Without an identity only whole rollouts are taken.
    EXPECT_FALSE(takesRelease(ssl_->crypto, "not an id", "2.0", 99));
    EXPECT_TRUE(takesRelease(ssl_->crypto, "", "2.0", 100));
}

}  // namespace
