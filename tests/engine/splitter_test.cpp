#include <aurivane/aurivane.h>

#include "engine/sink_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using aurivane::AudioFilter;
using aurivane::AudioSink;

struct Call {
    std::string sink;
    const void* data;
    uint32_t bytes;
};

class RecordingSink final : public AudioSink {
public:
    RecordingSink(std::string name, std::vector<Call>* log) : name_(std::move(name)), log_(log) {}
    int32_t Process(const void* data, uint32_t bytes) override {
        log_->push_back({name_, data, bytes});
        return 0;  // results are ignored by producers
    }

private:
    std::string name_;
    std::vector<Call>* log_;
};

std::vector<std::string> Names(const std::vector<Call>& log) {
    std::vector<std::string> names;
    for (const Call& c : log) names.push_back(c.sink);
    return names;
}

class SplitterTest : public ::testing::TestWithParam<const ClassId*> {
protected:
    void SetUp() override {
        splitter_ = static_cast<AudioFilter*>(CreateObject(GetParam()));
        ASSERT_NE(splitter_, nullptr);
    }
    void TearDown() override { DestroyObject(GetParam(), splitter_); }

    AudioFilter* splitter_ = nullptr;
    std::vector<Call> log_;
    RecordingSink a_{"A", &log_};
    RecordingSink b_{"B", &log_};
};

TEST_P(SplitterTest, ForwardsSamePointerAndCountInListOrder) {
    EXPECT_EQ(splitter_->AddSink(&a_), 1);
    EXPECT_EQ(splitter_->AddSink(&b_), 1);
    const char data[] = "0123456789";
    EXPECT_EQ(splitter_->Process(data, 7), 1);
    ASSERT_EQ(log_.size(), 2u);
    EXPECT_EQ(Names(log_), (std::vector<std::string>{"A", "B"}));
    for (const Call& c : log_) {
        EXPECT_EQ(c.data, data);  // no copy
        EXPECT_EQ(c.bytes, 7u);
    }
    log_.clear();
    EXPECT_EQ(splitter_->Process(data, 0), 1);  // zero length is forwarded
    ASSERT_EQ(log_.size(), 2u);
    EXPECT_EQ(log_[0].bytes, 0u);
    EXPECT_EQ(log_[1].bytes, 0u);
}

TEST_P(SplitterTest, EmptyListAndRemoval) {
    const char data[4] = {};
    EXPECT_EQ(splitter_->Process(data, 4), 1);
    EXPECT_EQ(splitter_->RemoveSink(&a_), 0);  // empty list

    splitter_->AddSink(&a_);
    splitter_->AddSink(&b_);
    splitter_->AddSink(&a_);
    RecordingSink never("C", &log_);
    EXPECT_EQ(splitter_->RemoveSink(&never), 0);  // never added: unchanged
    EXPECT_EQ(splitter_->RemoveSink(&a_), 1);     // only the first A goes
    splitter_->Process(data, 4);
    EXPECT_EQ(Names(log_), (std::vector<std::string>{"B", "A"}));

    log_.clear();
    EXPECT_EQ(splitter_->RemoveSink(&a_), 1);
    EXPECT_EQ(splitter_->RemoveSink(&a_), 0);
    splitter_->Process(data, 4);
    EXPECT_EQ(Names(log_), (std::vector<std::string>{"B"}));
}

TEST_P(SplitterTest, DuplicatesReceiveTwiceAndChainsRunDepthFirst) {
    auto* inner = static_cast<AudioFilter*>(CreateObject(&aurivane::kSplitterAltId));
    ASSERT_NE(inner, nullptr);
    RecordingSink c("C", &log_);
    splitter_->AddSink(&a_);
    splitter_->AddSink(inner);
    splitter_->AddSink(&a_);
    inner->AddSink(&b_);
    inner->AddSink(&c);
    const char data[2] = {1, 2};
    splitter_->Process(data, 2);
    EXPECT_EQ(Names(log_), (std::vector<std::string>{"A", "B", "C", "A"}));
    DestroyObject(&aurivane::kSplitterAltId, inner);
    // Destroying the inner splitter left its sinks alone.
    log_.clear();
    b_.Process(data, 1);
    EXPECT_EQ(log_.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(BothIds, SplitterTest,
                         ::testing::Values(&aurivane::kSplitterId, &aurivane::kSplitterAltId));

TEST(SinkList, KeepsOrderDuplicatesAndNull) {
    aurivane::SinkList list;
    std::vector<Call> log;
    RecordingSink a("A", &log), b("B", &log), c("C", &log);
    list.Add(&a);
    list.Add(nullptr);
    list.Add(&b);
    list.Add(&c);
    list.Add(&b);
    EXPECT_EQ(list.Size(), 5u);
    EXPECT_TRUE(list.Remove(nullptr));
    EXPECT_TRUE(list.Remove(&b));  // the first B
    ASSERT_EQ(list.Size(), 3u);
    EXPECT_EQ(list.At(0), &a);
    EXPECT_EQ(list.At(1), &c);
    EXPECT_EQ(list.At(2), &b);
    list.Deliver("x", 1);
    EXPECT_EQ(Names(log), (std::vector<std::string>{"A", "C", "B"}));
}

}  // namespace
