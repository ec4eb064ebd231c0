#include "base/LinkAddress.h"

#include <gtest/gtest.h>

// Every way of writing a link, how it reads, how it is named in the log, and
// that its text reads back the same.
TEST(LinkAddress, readsNamesAndWritesBack)
{
    struct Case {
        const char *Text;
        TLinkAddress::TKind Kind;
        const char *Describe;
        const char *Canonical;
    } cases[] = {
        {"serial:/dev/ttyUSB0", TLinkAddress::Serial, "serial /dev/ttyUSB0", "serial:/dev/ttyUSB0@19200"},
        {"serial:/dev/rfcomm0@115200", TLinkAddress::Serial, "serial /dev/rfcomm0", "serial:/dev/rfcomm0@115200"},
        {"serial:/dev/serial/by-id/a@b@9600", TLinkAddress::Serial, "serial /dev/serial/by-id/a@b", "serial:/dev/serial/by-id/a@b@9600"},
        {"usb", TLinkAddress::Usb, "USB", "usb@19200"},
        {"usb@460800", TLinkAddress::Usb, "USB", "usb@460800"},
        {"tcp:10.0.0.5", TLinkAddress::Tcp, "TCP 10.0.0.5:29461", "tcp:10.0.0.5:29461"},
        {"tcp:station.local:4001", TLinkAddress::Tcp, "TCP station.local:4001", "tcp:station.local:4001"},
        {"tcp:[fe80::1]:4001", TLinkAddress::Tcp, "TCP [fe80::1]:4001", "tcp:[fe80::1]:4001"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Text);
        QString error;
        const auto link = ParseLinkAddress(QString::fromUtf8(c.Text), error);
        ASSERT_TRUE(link) << error.toStdString();
        EXPECT_EQ(link->Kind, c.Kind);
        EXPECT_EQ(link->Describe(), QString::fromUtf8(c.Describe));
        EXPECT_EQ(link->Text(), QString::fromUtf8(c.Canonical));
        const auto again = ParseLinkAddress(link->Text(), error);
        ASSERT_TRUE(again);
        EXPECT_TRUE(again->SameLink(*link));
        EXPECT_EQ(again->Baud, link->Baud);
    }
}

TEST(LinkAddress, refusesWhatIsNoLink)
{
    for (const char *text : {"", "com1", "serial:", "serial:/dev/x@fast", "usb@0", "tcp:", "tcp:host:0",
                             "tcp:host:70000", "udp:host"}) {
        SCOPED_TRACE(text);
        QString error;
        EXPECT_FALSE(ParseLinkAddress(QString::fromUtf8(text), error));
        EXPECT_FALSE(error.isEmpty());
    }
}

TEST(LinkAddress, aModemDialIsPartOfTheSerialLinksName)
{
    TLinkAddress link;
    link.Device = "/dev/ttyS0";
    link.Dial = "0123456";
    EXPECT_EQ(link.Describe(), "serial /dev/ttyS0 dialling 0123456");
    TLinkAddress cable = link;
    cable.Dial.clear();
    EXPECT_FALSE(cable.SameLink(link));
}
