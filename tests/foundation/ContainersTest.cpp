#include "foundation/DataBuffer.h"
#include "foundation/ExtPtrArray.h"
#include "foundation/StringBuffer.h"
#include "foundation/StringPair.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Counts destructions so that ownership rules can be observed.
struct Tracked : VantrelObject {
    explicit Tracked(int* counter) : counter(counter) {}
    ~Tracked() override { ++*counter; }
    int* counter;
};

TEST(DataBufferGrowth, StepsOfAtLeastTwentyThousand) {
    DataBuffer one;
    EXPECT_EQ(one.getData(), nullptr);
    one.appendByte(7);
    EXPECT_EQ(one.getCapacity(), 20000U);
    EXPECT_EQ(one.getSize(), 1U);

    DataBuffer big;
    std::vector<unsigned char> bytes(30000, 0x5A);
    big.append(bytes.data(), 30000);
    EXPECT_EQ(big.getCapacity(), 30000U);

    DataBuffer small;
    small.append("abc", 3);
    EXPECT_EQ(small.getCapacity(), 20000U);
    small.append(bytes.data(), 19997);
    EXPECT_EQ(small.getCapacity(), 20000U);
    small.append("d", 1);
    EXPECT_EQ(small.getCapacity(), 40000U);
    EXPECT_EQ(small.getSize(), 20001U);
    EXPECT_EQ(std::memcmp(small.getData(), "abc", 3), 0);
}

TEST(DataBufferGrowth, EnsureCapacityMovesOnlyWhenSmaller) {
    DataBuffer buffer;
    buffer.ensureCapacity(100);
    EXPECT_EQ(buffer.getCapacity(), 100U);
    const unsigned char* before = buffer.getData();
    buffer.ensureCapacity(100);
    EXPECT_EQ(buffer.getData(), before);
    buffer.ensureCapacity(50);
    EXPECT_EQ(buffer.getCapacity(), 100U);
}

TEST(DataBufferOwnership, TakeDataLeavesTheOtherEmpty) {
    DataBuffer source;
    source.append("payload", 7);
    DataBuffer target;
    target.append("old", 3);
    target.takeData(source);
    EXPECT_EQ(source.getSize(), 0U);
    EXPECT_EQ(source.getCapacity(), 0U);
    EXPECT_EQ(source.getData(), nullptr);
    ASSERT_EQ(target.getSize(), 7U);
    EXPECT_EQ(std::memcmp(target.getData(), "payload", 7), 0);

    void* block = std::malloc(4);
    std::memcpy(block, "abcd", 4);
    target.adoptData(block, 4);
    EXPECT_EQ(target.getSize(), 4U);
    EXPECT_EQ(target.getCapacity(), 4U);
}

TEST(DataBufferOwnership, TruncateKeepsStorage) {
    DataBuffer buffer;
    buffer.append("abcdef", 6);
    const unsigned char* storage = buffer.getData();
    buffer.truncate(0);
    EXPECT_EQ(buffer.getSize(), 0U);
    EXPECT_EQ(buffer.getData(), storage);
    buffer.append("xy", 2);
    EXPECT_EQ(std::memcmp(buffer.getData(), "xy", 2), 0);
}

TEST(DataBufferOwnership, AppendFromItsOwnBytes) {
    DataBuffer buffer;
    std::vector<unsigned char> bytes(20000, 1);
    buffer.append(bytes.data(), 20000);
    buffer.append(buffer.getData(), 20000);
    EXPECT_EQ(buffer.getSize(), 40000U);
    EXPECT_EQ(buffer.getData()[39999], 1);
}

TEST(ExtPtrArrayGrowth, FiveTenTwentyForty) {
    ExtPtrArray array;
    EXPECT_EQ(array.getCapacity(), 0);
    std::vector<int> capacities;
    for (int i = 0; i < 41; ++i) {
        array.appendObject(nullptr);
        if (capacities.empty() || capacities.back() != array.getCapacity()) {
            capacities.push_back(array.getCapacity());
        }
    }
    EXPECT_EQ(capacities, (std::vector<int>{5, 10, 20, 40, 80}));
    EXPECT_EQ(array.getSize(), 41);
}

TEST(ExtPtrArrayAccess, OutOfRangeGivesNull) {
    ExtPtrArray array;
    EXPECT_EQ(array.popLast(), nullptr);
    EXPECT_EQ(array.removeAt(0), nullptr);
    StringBuffer a("a");
    array.appendObject(&a);
    EXPECT_EQ(array.elementAt(-1), nullptr);
    EXPECT_EQ(array.elementAt(array.getSize()), nullptr);
    EXPECT_EQ(array.removeAt(1), nullptr);
    EXPECT_EQ(array.getSize(), 1);
    EXPECT_EQ(array.popLast(), &a);
}

TEST(ExtPtrArrayAccess, RemoveAtShiftsTheRestDown) {
    StringBuffer a("a"), b("b"), c("c");
    ExtPtrArray array;
    array.appendObject(&a);
    array.appendObject(&b);
    array.appendObject(&c);
    EXPECT_EQ(array.removeAt(0), &a);
    ASSERT_EQ(array.getSize(), 2);
    EXPECT_EQ(array.elementAt(0), &b);
    EXPECT_EQ(array.elementAt(1), &c);
}

TEST(ExtPtrArrayOwnership, DestructorDeletesNothingRemoveAllDeletesAll) {
    int destroyed = 0;
    auto* kept = new Tracked(&destroyed);
    {
        ExtPtrArray array;
        array.appendObject(kept);
    }
    EXPECT_EQ(destroyed, 0);
    delete kept;
    EXPECT_EQ(destroyed, 1);

    destroyed = 0;
    ExtPtrArray owner;
    owner.appendObject(new Tracked(&destroyed));
    owner.appendObject(nullptr);
    owner.appendObject(new Tracked(&destroyed));
    owner.removeAllObjects();
    EXPECT_EQ(destroyed, 2);
    EXPECT_EQ(owner.getSize(), 0);
    EXPECT_EQ(owner.getCapacity(), 5);
}

TEST(StringPairBuffers, CreatedOnlyForNonEmptyTexts) {
    StringPair pair("name", "");
    EXPECT_TRUE(pair.hasNameBuffer());
    EXPECT_FALSE(pair.hasValueBuffer());
    EXPECT_STREQ(pair.getValue(), "");
    StringBuffer* value = pair.getValueSb();
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->getCapacity(), 100);
    value->append("v");
    EXPECT_STREQ(pair.getValue(), "v");

    StringPair none(nullptr, nullptr);
    EXPECT_FALSE(none.hasNameBuffer());
    EXPECT_EQ(none.getNameSb()->getCapacity(), 50);
}

} // namespace

namespace {

TEST(DataBufferGrowth, LargeBodiesInSmallPiecesGrowProportionally) {
    DataBuffer buffer;
    std::vector<unsigned char> piece(8191, 0x42);
    int enlargements = 0;
    uint32_t capacity = 0;
    for (int i = 0; i < 12800; ++i) { // about 100 MiB
        buffer.append(piece.data(), static_cast<uint32_t>(piece.size()));
        if (buffer.getCapacity() != capacity) {
            capacity = buffer.getCapacity();
            ++enlargements;
        }
    }
    EXPECT_EQ(buffer.getSize(), 12800U * 8191U);
    EXPECT_LT(enlargements, 40);
}

} // namespace
