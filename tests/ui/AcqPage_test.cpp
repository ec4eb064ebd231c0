#include "instrument/DataRecord.h"
#include "instrument/QualityControl.h"
#include "ui/AcqPage.h"

#include <gtest/gtest.h>

#include <cmath>

#include <QCoreApplication>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QLocale>

namespace {
QString Text(TAcqPage &page, const char *name)
{
    auto *l = page.findChild<QLabel *>(name);
    return l ? l->text() : QStringLiteral("<missing %1>").arg(name);
}
bool Shown(TAcqPage &page, const char *name)
{
    auto *l = page.findChild<QLabel *>(name);
    return l && l->isVisibleTo(&page);
}
} // namespace

TEST(LiveDisplay, aThreeChannelGroupShowsItsColumnsAndRowsWithTheirFormats)
{
    TAcqPage page;
    page.show();
    TRecordArray records{};
    records[0].Vp = 12.3456f;
    records[0].M = 3.14159f;
    records[0].Q = 0.04f;
    records[1].Q = std::nanf(""); // one stack: no spread
    records[0].In = 250.0f;
    records[0].Coords = {99999.0f, 10.0f, 20.0f, 30.0f, 99999.0f, 0, 0, 0, 0, 0, 0, 0};
    records[1].Coords[3] = 40.0f;
    std::array<std::int16_t, 13> electrodes{0, 2, 3, 4, 5, 6, -1};
    page.ShowMeasurement(records.data(), electrodes.data(), 3, QLocale::c());

    EXPECT_EQ(Text(page, "V1Lblx"), "12.35");
    EXPECT_EQ(Text(page, "M1Lblx"), "3.142");
    EXPECT_EQ(Text(page, "Q1Lblx"), "0.0");
    EXPECT_EQ(Text(page, "Q2Lblx"), QStringLiteral("\u2014"));
    EXPECT_EQ(Text(page, "InLblx"), "250.000");
    EXPECT_EQ(Text(page, "NaLblx"), "0");
    EXPECT_EQ(Text(page, "XaLblx"), "99999.00") << "the remote electrode";
    EXPECT_EQ(Text(page, "X1Lblx"), "20.00") << "P1 is M of the first record";
    EXPECT_EQ(Text(page, "X2Lblx"), "30.00") << "P2 is N of the first record";
    EXPECT_EQ(Text(page, "X3Lblx"), "40.00") << "P3 is N of the second record";
    EXPECT_EQ(Text(page, "N5Lblx"), "65535") << "node numbers are unsigned 16-bit";
    for (const char *on : {"V3Lblx", "Rho3Lblx", "N4Lblx", "Z4Lblx", "N1Lblx"})
        EXPECT_TRUE(Shown(page, on)) << on;
    for (const char *off : {"V4Lblx", "Q10Lblx", "N5Lblx", "X11Lblx"})
        EXPECT_FALSE(Shown(page, off)) << off;

    page.ShowMeasurement(records.data(), electrodes.data(), 10, QLocale::c());
    EXPECT_TRUE(Shown(page, "Q10Lblx"));
    EXPECT_TRUE(Shown(page, "X11Lblx"));
}

TEST(LiveDisplay, qualityColoursEachChannelAndCountsTheRun)
{
    TAcqPage page;
    page.show();
    TRecordArray records{};
    std::array<std::int16_t, 13> electrodes{};
    page.ShowMeasurement(records.data(), electrodes.data(), 3, QLocale::c());
    const unsigned flags[] = {0, TQualityControl::HighQ | TQualityControl::Reciprocal, 0};
    page.ShowQuality(flags, 3, 12, 340);
    EXPECT_EQ(Text(page, "QcCountLbl"), "12 flagged of 340");
    auto *good = page.findChild<QLabel *>("QC1Lblx");
    auto *bad = page.findChild<QLabel *>("QC2Lblx");
    ASSERT_TRUE(good && bad);
    EXPECT_EQ(bad->toolTip(), "high_q|reciprocal");
    EXPECT_NE(good->grab().toImage().pixelColor(5, 5), bad->grab().toImage().pixelColor(5, 5));
    EXPECT_FALSE(Shown(page, "QC4Lblx"));
    // The next group starts uncoloured until it is judged.
    page.ShowMeasurement(records.data(), electrodes.data(), 3, QLocale::c());
    EXPECT_TRUE(bad->toolTip().isEmpty());
}

TEST(LiveDisplay, valueBoxesKeepTheirHeightWhenTheDataGroupIsHidden)
{
    TAcqPage page;
    page.resize(900, 450);
    page.show();
    auto *quad = page.findChild<QLabel *>("QuadripoleLblx");
    auto *eta = page.findChild<QLabel *>("EstimatedTimeLblx");
    QCoreApplication::processEvents();
    const int shown = quad->height();
    page.HideData();
    page.resize(900, 460);
    QCoreApplication::processEvents();
    EXPECT_EQ(quad->height(), shown);
    EXPECT_EQ(eta->height(), shown);
    EXPECT_LT(shown, 40);
    EXPECT_LT(quad->y(), 40) << "the boxes stay at the top of the page";
}

TEST(LiveDisplay, electrodeBoxesKeepTheirHeightWithFewerChannels)
{
    TAcqPage page;
    page.resize(900, 500);
    page.show();
    TRecordArray records{};
    std::array<std::int16_t, 13> electrodes{1, 2, 3, 4, -1};
    page.ShowMeasurement(records.data(), electrodes.data(), 10, QLocale::c());
    QCoreApplication::processEvents();
    const int full = page.findChild<QLabel *>("XaLblx")->height();
    page.ShowMeasurement(records.data(), electrodes.data(), 1, QLocale::c());
    QCoreApplication::processEvents();
    for (const char *name : {"XaLblx", "XbLblx", "X1Lblx", "V1Lblx"})
        EXPECT_EQ(page.findChild<QLabel *>(name)->height(), full) << name;
    EXPECT_LT(full, 30);
}
