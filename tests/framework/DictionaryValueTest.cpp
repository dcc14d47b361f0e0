#include <gtest/gtest.h>

#include "DictionaryValue.h"

namespace
{
const Dictionary sample{
    {"zero", 0}, {"one", 1}, {"two", 2}, {"ratio", 0.5}, {"flag", true}, {"textOne", "1"},
    {"huge", static_cast<long long>(INT64_MAX)}, {"names", Array{"a", "b"}}, {"mixed", Array{"a", 3}},
    {"nothing", Value()},
};

template <typename T>
void expectReadFails(const std::string &key)
{
    try {
        (void)valueForKey<T>(key, sample);
        ADD_FAILURE() << "reading " << key << " did not throw";
    } catch (const Error &error) {
        EXPECT_EQ(error.domain(), "valueForKey failed: " + key);
        EXPECT_EQ(error.code(), 0);
        EXPECT_TRUE(error.userInfo().empty());
    }
}
}

TEST(DictionaryValue, StrictTypedReads)
{
    expectReadFails<bool>("textOne");
    expectReadFails<std::int64_t>("textOne");
    expectReadFails<double>("textOne");
    expectReadFails<bool>("two");
    expectReadFails<bool>("ratio");
    expectReadFails<std::int64_t>("ratio");
    expectReadFails<int>("huge");
    expectReadFails<std::vector<std::string>>("mixed");
    expectReadFails<std::string>("absent");
    expectReadFails<Value>("nothing");

    EXPECT_FALSE(valueForKey<bool>("zero", sample));
    EXPECT_TRUE(valueForKey<bool>("one", sample));
    EXPECT_EQ(valueForKey<double>("two", sample), 2.0);
    EXPECT_EQ(valueForKey<std::int64_t>("huge", sample), INT64_MAX);
    EXPECT_EQ(valueForKey<std::vector<std::string>>("names", sample), (std::vector<std::string>{"a", "b"}));
}

TEST(DictionaryValue, DefaultValueReplacesMissingOrMistypedValues)
{
    EXPECT_EQ(valueForKey<std::string>("absent", sample, "fallback"), "fallback");
    EXPECT_EQ(valueForKey<std::int64_t>("textOne", sample, 42), 42);
    EXPECT_TRUE(valueForKey<bool>("two", sample, true));
    EXPECT_FALSE(valueForKey<bool>("zero", sample, true));
}
