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

#include <ftdi.h>
#include <libusb.h>

#include <cstdio>

namespace {
struct TDevice {
    QString Manufacturer, Description, Serial;
    int Bus = 0, Address = 0;
};

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
    window.resize(560, 260);
    auto *column = new QVBoxLayout(&window);
    auto *status = new QLabel(&window);
    auto *tree = new QTreeWidget(&window);
    tree->setHeaderLabels({QStringLiteral("Description"), QStringLiteral("Serial number"), QStringLiteral("Maker"),
                           QStringLiteral("Bus / address")});
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
                {d.Description, d.Serial, d.Manufacturer, QStringLiteral("%1 / %2").arg(d.Bus).arg(d.Address)}));
        if (!error.isEmpty())
            status->setText(QStringLiteral("The USB devices cannot be listed: %1").arg(error));
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
        for (int i = 0; i < tree->topLevelItemCount(); ++i)
            std::printf("%s\n", qPrintable(tree->topLevelItem(i)->text(0) + QLatin1Char('\t') + tree->topLevelItem(i)->text(1)));
        std::printf("%s\n", qPrintable(status->text()));
        return 0;
    }
    return app.exec();
}
