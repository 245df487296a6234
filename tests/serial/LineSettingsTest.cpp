#include "serial/LineSettings.h"

#include "serial/DcbValidation.h"

#include <cstring>
#include <gtest/gtest.h>

namespace
{

// A record as a device might report it: a bit pattern in every field.
DCB DeviceRecord()
{
    DCB d;
    std::memset(static_cast<void*>(&d), 0x5A, sizeof d);
    return d;
}

// Compares everything but the fields the mapping writes.
bool SameOtherFields(DCB a, DCB b)
{
    for (DCB* d : {&a, &b})
    {
        d->DCBlength = d->BaudRate = d->fDtrControl = d->fRtsControl = 0;
        d->ByteSize = d->StopBits = d->Parity = 0;
        d->fOutxCtsFlow = d->fOutxDsrFlow = d->fOutX = d->fInX = 0;
        d->XonChar = d->XoffChar = 0;
    }
    return std::memcmp(&a, &b, sizeof(DCB)) == 0;
}

} // namespace

TEST(LineSettingsTest, EveryTableEntryMapsToItsCodeAndTheDefaultsTo115200With8N1)
{
    DCB d = DeviceRecord();
    MapLineSettings(LineChoices{}, &d);
    EXPECT_EQ(d.DCBlength, 28u);
    EXPECT_EQ(d.BaudRate, 115200u);
    EXPECT_EQ(d.ByteSize, 8);
    EXPECT_EQ(d.StopBits, ONESTOPBIT);
    EXPECT_EQ(d.Parity, NOPARITY);
    EXPECT_EQ(d.fDtrControl, DTR_CONTROL_ENABLE);
    EXPECT_EQ(d.fRtsControl, RTS_CONTROL_ENABLE);
    for (std::size_t i = 0; i < g_baudRates.size(); ++i)
    {
        const int n = static_cast<int>(i);
        const LineChoices c{n, n % 4, n % 3, n % 5, kFlowCustom, n % 2 == 1, n % 3 == 1};
        SCOPED_TRACE(testing::Message() << g_baudRates[i] << " baud, " << 5 + n % 4
                                        << " data bits, " << g_stopBitsNames[n % 3]
                                        << " stop bits, " << g_parityNames[n % 5] << " parity");
        d = DeviceRecord();
        MapLineSettings(c, &d);
        EXPECT_EQ(d.BaudRate, g_baudRates[i]);
        EXPECT_EQ(d.ByteSize, 5 + n % 4);
        EXPECT_EQ(d.StopBits, n % 3);
        EXPECT_EQ(d.Parity, n % 5);
        EXPECT_EQ(d.fDtrControl, n % 2 == 1 ? 1u : 0u);
        EXPECT_EQ(d.fRtsControl, n % 3 == 1 ? 1u : 0u);
        EXPECT_TRUE(SameOtherFields(d, DeviceRecord()));
        EXPECT_EQ(d.XonChar, DeviceRecord().XonChar); // Custom keeps the device's flow fields
    }
    // A choice with nothing selected counts as its default.
    MapLineSettings({-1, 4, -1, 5, kFlowNone, true, true}, &d);
    EXPECT_EQ(d.BaudRate, 115200u);
    EXPECT_EQ(d.ByteSize, 8);
    EXPECT_EQ(d.StopBits, ONESTOPBIT);
    EXPECT_EQ(d.Parity, NOPARITY);
}

TEST(LineSettingsTest, FlowChoicesGiveRecordsTheDeviceLayerAccepts)
{
    struct Row
    {
        const char* name;
        int flow;
        bool rtsBox;
        unsigned cts, rts, xonXoff;
    } rows[] = {
        {"None, RTS checked", kFlowNone, true, 0, RTS_CONTROL_ENABLE, 0},
        {"None, RTS unchecked", kFlowNone, false, 0, RTS_CONTROL_DISABLE, 0},
        {"Hardware, RTS unchecked", kFlowHardware, false, 1, RTS_CONTROL_HANDSHAKE, 0},
        {"Software, RTS checked", kFlowSoftware, true, 0, RTS_CONTROL_ENABLE, 1},
        {"Custom keeps the device's RTS/CTS", kFlowCustom, true, 1, RTS_CONTROL_HANDSHAKE, 0},
    };
    for (const Row& r : rows)
    {
        SCOPED_TRACE(r.name);
        DCB d;
        d.fOutxCtsFlow = 1;
        d.fRtsControl = RTS_CONTROL_HANDSHAKE;
        d.fOutxDsrFlow = r.flow != kFlowCustom;
        MapLineSettings({7, 3, 0, 0, r.flow, true, r.rtsBox}, &d);
        EXPECT_EQ(d.fOutxCtsFlow, r.cts);
        EXPECT_EQ(d.fOutxDsrFlow, 0u);
        EXPECT_EQ(d.fRtsControl, r.rts);
        EXPECT_EQ(d.fOutX, r.xonXoff);
        EXPECT_EQ(d.fInX, r.xonXoff);
        EXPECT_EQ(d.XonChar, r.xonXoff ? 0x11 : 0);
        EXPECT_EQ(d.XoffChar, r.xonXoff ? 0x13 : 0);
        EXPECT_EQ(ValidateDcb(d), DeviceStatus::Ok);
    }
}

TEST(LineSettingsTest, SettingsThatDifferAreNamedInWords)
{
    DCB base;
    MapLineSettings({}, &base);
    struct Row
    {
        const char* name;
        LineChoices other;
        const char* words; // base's settings, where `other` differs
    } rows[] = {
        {"the same", {}, ""},
        {"6 data bits asked", {.byteSizeIndex = 1}, "8 data bits"},
        {"7E2 at 9600 asked",
         {.baudIndex = 1, .byteSizeIndex = 2, .stopBitsIndex = 2, .parityIndex = 2},
         "8 data bits, 1 stop bit, no parity and 115200 baud"},
        {"hardware flow, DTR off",
         {.flowIndex = kFlowHardware, .dtrChecked = false},
         "no flow control and DTR on"},
        {"RTS off", {.rtsChecked = false}, "RTS on"},
    };
    for (const Row& r : rows)
    {
        SCOPED_TRACE(r.name);
        DCB other;
        MapLineSettings(r.other, &other);
        EXPECT_EQ(SettingsThatDiffer(base, other), r.words);
    }
    // A rate the kernel encodes 1 % off is the same rate.
    DCB near = base;
    near.BaudRate = 116000;
    EXPECT_EQ(SettingsThatDiffer(base, near), "");
}
