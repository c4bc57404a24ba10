// The meter record is packed, so its 32-bit fields may sit at any address.
// A processor that traps misaligned loads (the controller's MIPS does, and so
// does qemu-mipsel) only tolerates them when the code reads the fields by
// value, which the compiler turns into byte-safe loads. These tests make sure
// the decoding and lookup tests really run on misaligned fields, and that the
// processor they run on really traps a careless load.
#include "QVT7702.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>

namespace {

class MeterWithVisibleRecord : public QVT7702 {
public:
    std::uintptr_t RecordAddress() const { return reinterpret_cast<std::uintptr_t>(&record_); }
};

// Loads through a pointer of the field's type, the way code must not read a
// packed field. The volatile pointer keeps the compiler from knowing the
// address, so it uses the plain aligned load instruction; the volatile result
// keeps the load from being dropped.
template <class Field>
void LoadThroughPointer(const unsigned char* bytes) {
    const Field* volatile field = reinterpret_cast<const Field*>(bytes);
    volatile Field loaded = *field;
    static_cast<void>(loaded);
}

TEST(MisalignedRecord, MeterRecordFieldsSitAtMisalignedAddresses) {
    // The record follows the one-byte station address of the Modbus base, so
    // data_id and every element of values are off their natural alignment
    // in every meter object, whether on the heap or in a test fixture.
    MeterWithVisibleRecord on_stack;
    auto* on_heap = new MeterWithVisibleRecord();
    EXPECT_NE(on_stack.RecordAddress() % alignof(float), 0u);
    EXPECT_NE(on_heap->RecordAddress() % alignof(std::uint32_t), 0u);
    delete on_heap;
}

TEST(MisalignedRecord, TargetProcessorTrapsLoadsThroughMisalignedPointers) {
#if defined(__mips__)
    alignas(8) unsigned char bytes[16] = {};
    EXPECT_EXIT(LoadThroughPointer<float>(bytes + 1), testing::KilledBySignal(SIGBUS), "");
    EXPECT_EXIT(LoadThroughPointer<std::uint32_t>(bytes + 2), testing::KilledBySignal(SIGBUS), "");
    LoadThroughPointer<float>(bytes + 4);  // aligned: fine
#else
    GTEST_SKIP() << "this processor tolerates misaligned loads";
#endif
}

}  // namespace
