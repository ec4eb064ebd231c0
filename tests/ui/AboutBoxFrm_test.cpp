#include "ui/AboutBoxFrm.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QLabel>
#include <QTemporaryDir>

TEST(AboutBoxFrm, versionIsTwoDigitsPerNumber)
{
    const struct {
        const char *version, *text;
    } cases[] = {{"6.6.0", "V06.06.00"}, {"10.2.3", "V10.02.03"}, {"6.6.0.0", "V06.06.00"}, {"2.1", "V02.01.00"}};
    for (const auto &c : cases)
        EXPECT_EQ(TAboutBoxFrm::VersionText(c.version), c.text) << c.version;
}

TEST(AboutBoxFrm, systemLineIsTheDistributionsPrettyName)
{
    QTemporaryDir tmp;
    const struct {
        const char *file, *name;
    } cases[] = {
        {"NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nID=debian\n", "Debian GNU/Linux 12 (bookworm)"},
        {"PRETTY_NAME=Plain\n", "Plain"},
        {"ID=none\n", ""},
    };
    for (const auto &c : cases) {
        QFile f(tmp.path() + "/os-release");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(c.file);
        f.close();
        EXPECT_EQ(TAboutBoxFrm::SystemName(f.fileName()), c.name);
    }
    EXPECT_EQ(TAboutBoxFrm::SystemName(tmp.path() + "/missing"), "");
}

TEST(AboutBoxFrm, showsVersionAndNoPlaceholderLinks)
{
    TAboutBoxFrm about(nullptr);
    EXPECT_EQ(about.windowTitle(), "About");
    EXPECT_EQ(about.size(), QSize(506, 295));
    EXPECT_TRUE(about.Version->text().startsWith("V"));
    EXPECT_FALSE(about.WindowsLbl->text().isEmpty());
    for (const QLabel *label : about.findChildren<QLabel *>()) {
        EXPECT_FALSE(label->text().contains("example")) << label->text().toStdString();
        EXPECT_FALSE(label->text().contains("href")) << label->text().toStdString();
    }
}
