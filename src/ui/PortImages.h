#pragma once
// The link pictures of the status bar, drawn by the program:
// 0 USB without device, 1 USB, 2..7 Com 1..6, 8 Bluetooth, 9 Wi-Fi module;
// and the two link indicator lamps.
#include <QPixmap>

QPixmap PortImage(int index, int size);
QPixmap LinkLamp(bool on, int size);
