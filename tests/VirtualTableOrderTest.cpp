// The host calls a device through its virtual table, so the position of each
// operation in the table is a binary interface shared with a host built
// separately. These tests fail when an operation is added, removed or moved.
#include "QVT7702.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

namespace {

// On the Itanium C++ ABI a pointer to a virtual member function is two
// words: {1 + byte offset of its slot in the virtual table, this-adjustment}.
// Where code addresses may be odd (MIPS, ARM), the "virtual" bit moves to the
// adjustment instead: {byte offset of the slot, 2 * adjustment + 1}.
template <class Member>
std::ptrdiff_t SlotOf(Member member) {
    static_assert(sizeof(Member) == 2 * sizeof(std::ptrdiff_t), "Itanium member pointer");
    std::ptrdiff_t raw[2];
    std::memcpy(raw, &member, sizeof raw);
#if defined(__mips__) || defined(__arm__) || defined(__aarch64__)
    EXPECT_EQ(raw[1] & 1, 1) << "not a virtual operation";
    const std::ptrdiff_t slot_offset = raw[0];
#else
    EXPECT_EQ(raw[0] & 1, 1) << "not a virtual operation";
    const std::ptrdiff_t slot_offset = raw[0] - 1;
#endif
    return slot_offset / static_cast<std::ptrdiff_t>(sizeof(void*));
}

using LoadBytes = int (QVT7702::*)(const unsigned char*, int);
using LoadString = int (QVT7702::*)(const std::string&);

TEST(VirtualTableOrder, HostInterfaceOperations) {
    EXPECT_EQ(SlotOf(&QVT7702::Get_Value), 0);
    EXPECT_EQ(SlotOf(static_cast<LoadString>(&QVT7702::LoadFromCache)), 1);
    EXPECT_EQ(SlotOf(static_cast<LoadBytes>(&QVT7702::LoadFromCache)), 2);
    EXPECT_EQ(SlotOf(&QVT7702::DataId), 3);
    EXPECT_EQ(SlotOf(&QVT7702::DeviceType), 4);
    EXPECT_EQ(SlotOf(&QVT7702::DeviceIoControl), 5);
    EXPECT_EQ(SlotOf(&QVT7702::RoundDone), 6);
    EXPECT_EQ(SlotOf(&QVT7702::UseControllerDb), 7);
    // Slots 8 and 9: the complete-object and deleting destructors.
}

TEST(VirtualTableOrder, DeviceOperations) {
    EXPECT_EQ(SlotOf(&QVT7702::Reset), 10);
    EXPECT_EQ(SlotOf(&QVT7702::InitV), 11);
    EXPECT_EQ(SlotOf(&QVT7702::Init), 12);
    EXPECT_EQ(SlotOf(&QVT7702::InitSetting), 13);
    EXPECT_EQ(SlotOf(&QVT7702::IsSupportDevice), 14);
    EXPECT_EQ(SlotOf(&QVT7702::GetChildVDevice), 15);
    EXPECT_EQ(SlotOf(&QVT7702::GetAllChildVDevices), 16);
    EXPECT_EQ(SlotOf(&QVT7702::SendSP), 17);
    EXPECT_EQ(SlotOf(&QVT7702::SendDelayData), 18);
    EXPECT_EQ(SlotOf(&QVT7702::SendDoData), 19);
    EXPECT_EQ(SlotOf(&QVT7702::ReadDi), 20);
    EXPECT_EQ(SlotOf(&QVT7702::ReadAi), 21);
    EXPECT_EQ(SlotOf(&QVT7702::Get_SP_Value), 22);
}

TEST(VirtualTableOrder, SerialAndModbusOperations) {
    EXPECT_EQ(SlotOf(&QVT7702::RefreshStatus), 23);
    EXPECT_EQ(SlotOf(&QVT7702::process), 24);
    EXPECT_EQ(SlotOf(&QVT7702::IsProcessing), 25);
    EXPECT_EQ(SlotOf(&QVT7702::IsStalled), 26);
    EXPECT_EQ(SlotOf(&QVT7702::SendData), 27);
    EXPECT_EQ(SlotOf(&QVT7702::SendParityData), 28);
    EXPECT_EQ(SlotOf(&QVT7702::OpenPort), 29);
    EXPECT_EQ(SlotOf(&QVT7702::ClosePort), 30);
    EXPECT_EQ(SlotOf(&QVT7702::process_payload), 31);
    EXPECT_EQ(SlotOf(&QVT7702::on_error), 32);
    EXPECT_EQ(SlotOf(&QVT7702::RunCheckThreshold), 33);
}

// The destructors really are slots 8 and 9: calling the deleting destructor
// straight from slot 9 frees the object.
TEST(VirtualTableOrder, DeletingDestructorIsSlotNine) {
    VDeviceInterface* device = new QVT7702();
    using DeletingDestructor = void (*)(VDeviceInterface*);
    DeletingDestructor* table = *reinterpret_cast<DeletingDestructor**>(device);
    table[9](device);
}

}  // namespace
