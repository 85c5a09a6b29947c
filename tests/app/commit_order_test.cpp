#include "app/batch/commit_order.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using vellumar::batch::CommitOrder;

// Rows become ready in order (those in `fails` fail instead); every step must
// put a row in place only once the rows it waits for are (or go in with it).
struct Case {
    const char* name;
    std::vector<std::vector<int>> waitsFor;
    std::set<int> fails;
    std::set<int> written;  // rows whose files go in place
    size_t rings;           // steps that put several rows in at once
};

TEST(CommitOrder, EveryFileWaitsForTheRowsWhoseSourcesItReplaces) {
    const Case cases[] = {
        {"nothing shared", {{}, {}, {}}, {}, {1, 2, 3}, 0},
        {"a chain", {{2}, {3}, {}}, {}, {1, 2, 3}, 0},
        {"a folder listed backwards", {{4}, {3}, {2}, {1}}, {}, {1, 2, 3, 4}, 2},
        {"a ring and a row after it", {{2}, {3}, {1}, {1}}, {}, {1, 2, 3, 4}, 1},
        {"a ring with a failed row", {{2}, {3}, {1}, {}}, {2}, {4}, 0},
        {"waits for a failed row", {{}, {1}, {2}, {}}, {1}, {4}, 0},
        {"itself only", {{1}, {2}}, {}, {1, 2}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CommitOrder order(c.waitsFor);
        std::set<int> placed, blocked;
        size_t rings = 0;
        auto settle = [&](bool end) {
            CommitOrder::Step step;
            while (order.Next(step, end)) {
                if (step.blocked) {
                    EXPECT_TRUE(c.fails.count(step.blockedBy) || blocked.count(step.blockedBy));
                    blocked.insert(step.blocked);
                    order.Failed(step.blocked);
                    continue;
                }
                const std::set<int> group(step.commit.begin(), step.commit.end());
                for (const int row : step.commit)
                    for (const int other : c.waitsFor[size_t(row - 1)])
                        EXPECT_TRUE(other == row || placed.count(other) || group.count(other))
                            << row << " before " << other;
                rings += step.commit.size() > 1;
                placed.insert(group.begin(), group.end());
                order.Committed(step.commit);
            }
        };
        for (int row = 1; row <= int(c.waitsFor.size()); ++row) {
            if (c.fails.count(row)) order.Failed(row);
            else order.Ready(row);
            settle(false);
        }
        settle(true);
        EXPECT_EQ(placed, c.written);
        EXPECT_EQ(rings, c.rings);
        EXPECT_TRUE(order.Waiting().empty());
    }
}

// A rotation of a whole folder is one ring: nothing goes in before its last
// row is ready, then everything at once.
TEST(CommitOrder, ALongRotationGoesInAsOneRing) {
    const int n = 20000;
    std::vector<std::vector<int>> waitsFor(n);
    for (int row = 1; row <= n; ++row) waitsFor[size_t(row - 1)] = {row % n + 1};
    CommitOrder order(waitsFor);
    CommitOrder::Step step;
    for (int row = 1; row < n; ++row) {
        order.Ready(row);
        ASSERT_FALSE(order.Next(step, false));
    }
    order.Ready(n);
    ASSERT_TRUE(order.Next(step, true));
    EXPECT_EQ(step.commit.size(), size_t(n));
}

}  // namespace
