// The USB checking tool started from "Link > USB Check": lists the FTDI
// USB serial cables the system sees, so a crew can tell a missing driver or
// a bad cable from an instrument that does not answer.
#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWidget>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <ftdi.h>
#include <grp.h>
#include <libusb.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {
struct TDevice {
    QString Manufacturer, Description, Serial;
    int Bus = 0, Address = 0;
    QString SysName;   // "1-2.4": bus and port path, the device's folder in /sys/bus/usb/devices
    QString Driver;    // kernel driver bound to its first interface ("ftdi_sio"), empty when none
    QString Tty;       // "/dev/ttyUSB0" when the kernel driver made a serial port of it
    QString Access;    // what the user may do with it, and how to fix it
};

QString GroupName(gid_t gid)
{
    const group *g = getgrgid(gid);
    return g ? QString::fromLocal8Bit(g->gr_name) : QString::number(gid);
}

bool InGroup(gid_t gid)
{
    if (getegid() == gid)
        return true;
    const int n = getgroups(0, nullptr);
    std::vector<gid_t> groups(static_cast<std::size_t>(n > 0 ? n : 0));
    if (n > 0 && getgroups(n, groups.data()) == n)
        for (gid_t g : groups)
            if (g == gid)
                return true;
    return false;
}

// Empty when the user may read and write path; else what to do about it.
QString AccessAdvice(const QString &path, const char *usualGroup)
{
    const QByteArray p = QFile::encodeName(path);
    if (access(p.constData(), R_OK | W_OK) == 0)
        return {};
    struct stat st {};
    if (stat(p.constData(), &st) != 0)
        return QStringLiteral("%1 is missing").arg(path);
    const QString group = GroupName(st.st_gid);
    if (st.st_gid != 0 && (st.st_mode & S_IWGRP)) {
        if (InGroup(st.st_gid))
            return QStringLiteral("no access to %1: log out and in again to use the group %2").arg(path, group);
        return QStringLiteral("no access to %1: sudo usermod -aG %2 $USER, then log out and in again").arg(path, group);
    }
    return QStringLiteral("no access to %1: add a udev rule SUBSYSTEM==\"usb\", ATTRS{idVendor}==\"0403\", "
                          "MODE=\"0660\", GROUP=\"%2\" in /etc/udev/rules.d/, reload udev and plug the cable again")
        .arg(path, QString::fromLatin1(usualGroup));
}

// The kernel's view of the device: bound driver and serial port, from sysfs.
void DescribeKernelSide(TDevice &d)
{
    const QString folder = QStringLiteral("/sys/bus/usb/devices/%1:1.0").arg(d.SysName);
    const QFileInfo driver(folder + QStringLiteral("/driver"));
    if (driver.isSymLink())
        d.Driver = QFileInfo(driver.symLinkTarget()).fileName();
    const QStringList ttys = QDir(folder).entryList({QStringLiteral("ttyUSB*")}, QDir::Dirs);
    if (!ttys.isEmpty())
        d.Tty = QStringLiteral("/dev/") + ttys.first();
    QStringList advice;
    const QString usbNode = QStringLiteral("/dev/bus/usb/%1/%2").arg(d.Bus, 3, 10, QLatin1Char('0')).arg(d.Address, 3, 10, QLatin1Char('0'));
    const QString usb = AccessAdvice(usbNode, "plugdev");
    if (!usb.isEmpty())
        advice << QStringLiteral("USB link: ") + usb;
    if (!d.Tty.isEmpty()) {
        const QString tty = AccessAdvice(d.Tty, "dialout");
        if (!tty.isEmpty())
            advice << QStringLiteral("serial link: ") + tty;
    }
    d.Access = advice.isEmpty() ? QStringLiteral("usable") : advice.join(QStringLiteral("; "));
}

QString LibraryText()
{
    const ftdi_version_info v = ftdi_get_library_version();
    return QStringLiteral("libftdi %1").arg(QString::fromLatin1(v.version_str));
}

// Every FTDI device of the usual product ids; an error text when the USB
// stack cannot be asked.
QList<TDevice> Devices(QString &error)
{
    QList<TDevice> found;
    ftdi_context *ftdi = ftdi_new();
    if (!ftdi) {
        error = QStringLiteral("libftdi could not start");
        return found;
    }
    ftdi_device_list *list = nullptr;
    const int n = ftdi_usb_find_all(ftdi, &list, 0, 0);
    if (n < 0) {
        error = QString::fromLatin1(ftdi_get_error_string(ftdi));
    } else {
        for (ftdi_device_list *d = list; d; d = d->next) {
            char manufacturer[128] = {}, description[128] = {}, serial[128] = {};
            ftdi_usb_get_strings(ftdi, d->dev, manufacturer, sizeof manufacturer, description, sizeof description,
                                 serial, sizeof serial);
            TDevice device;
            device.Manufacturer = QString::fromLatin1(manufacturer);
            device.Description = QString::fromLatin1(description);
            device.Serial = QString::fromLatin1(serial);
            device.Bus = libusb_get_bus_number(d->dev);
            device.Address = libusb_get_device_address(d->dev);
            std::uint8_t ports[8] = {};
            const int depth = libusb_get_port_numbers(d->dev, ports, sizeof ports);
            QStringList path;
            for (int i = 0; i < depth; ++i)
                path << QString::number(ports[i]);
            device.SysName = QStringLiteral("%1-%2").arg(device.Bus).arg(path.join(QLatin1Char('.')));
            DescribeKernelSide(device);
            found.append(device);
        }
        ftdi_list_free(&list);
    }
    ftdi_free(ftdi);
    return found;
}
} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("USB Check"));
    QWidget window;
    window.setWindowTitle(QStringLiteral("USB Check"));
    window.resize(760, 280);
    auto *column = new QVBoxLayout(&window);
    auto *status = new QLabel(&window);
    auto *tree = new QTreeWidget(&window);
    tree->setHeaderLabels({QStringLiteral("Description"), QStringLiteral("Serial number"), QStringLiteral("Maker"),
                           QStringLiteral("Bus / address"), QStringLiteral("Kernel driver"), QStringLiteral("Access")});
    tree->setRootIsDecorated(false);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, &window);
    QPushButton *refresh = buttons->addButton(QStringLiteral("Refresh"), QDialogButtonBox::ActionRole);
    column->addWidget(status);
    column->addWidget(tree, 1);
    column->addWidget(new QLabel(LibraryText(), &window));
    column->addWidget(buttons);

    const auto scan = [status, tree] {
        tree->clear();
        QString error;
        const QList<TDevice> devices = Devices(error);
        for (const TDevice &d : devices)
            tree->addTopLevelItem(new QTreeWidgetItem(
                {d.Description, d.Serial, d.Manufacturer, QStringLiteral("%1 / %2").arg(d.Bus).arg(d.Address),
                 d.Driver.isEmpty() ? QStringLiteral("none")
                                    : d.Driver + (d.Tty.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(d.Tty)),
                 d.Access}));
        if (!error.isEmpty())
            status->setText(QStringLiteral("The USB devices cannot be listed: %1").arg(error));
        else if (std::any_of(devices.begin(), devices.end(), [](const TDevice &d) { return d.Access != QLatin1String("usable"); }))
            status->setText(QStringLiteral("%1 FTDI USB cable(s) found; see the Access column for what to change.").arg(devices.size()));
        else if (devices.isEmpty())
            status->setText(QStringLiteral("No FTDI USB cable found. Check the cable and its plug, then Refresh."));
        else
            status->setText(QStringLiteral("%1 FTDI USB cable(s) found.").arg(devices.size()));
    };
    QObject::connect(refresh, &QPushButton::clicked, scan);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &window, &QWidget::close);
    scan();
    window.show();
    if (app.arguments().contains(QStringLiteral("--list"))) {
        // Headless check for scripts: print what was found and quit.
        for (int i = 0; i < tree->topLevelItemCount(); ++i) {
            QStringList fields;
            for (int c = 0; c < tree->columnCount(); ++c)
                fields << tree->topLevelItem(i)->text(c);
            std::printf("%s\n", qPrintable(fields.join(QLatin1Char('\t'))));
        }
        std::printf("%s\n", qPrintable(status->text()));
        return 0;
    }
    return app.exec();
}
