// The invalid object, the fault constants and a parsed tree read by several
// threads at once: only reference counts change.
#include "xmlrpc/faults.h"
#include "xmlrpc/objectvalue.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

using namespace trivane;
using namespace trivane::xmlrpc;

namespace {

TEST(ValueSharingTest, ThreadsCopyTheSharedValuesWhileBuildingTheirOwn) {
    uint32_t pos = 0;
    const Value tree("<value><array><data><value><i4>1</i4></value><value>two</value></data></array></value>"_s, pos);
    ASSERT_EQ(tree.size(), 2);
    std::vector<std::thread> threads;
    std::vector<std::string> written(4);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            Value own;
            for (int i = 0; i < 5000; ++i) {
                Value unset;
                Value fault = faultInternalError;
                Value copy = tree;
                own.item(i % 50) = copy.get(i % 2);
                own.append(noValue);
                if (fault.asString().length() == 0 || unset.isValid()) return;
            }
            written[t] = std::string(own.get(0).toXml().data(), own.get(0).toXml().length());
        });
    for (auto& t : threads) t.join();
    for (const std::string& w : written) EXPECT_EQ(w, "<value><i4>1</i4></value>");
    EXPECT_EQ(tree.object()->refCount(), 1);
    EXPECT_EQ(faultInternalError.object()->refCount(), 1);
}

}  // namespace
