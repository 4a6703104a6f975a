#pragma once
#include <string>

// What the system reports about the hardware behind a port (a USB adapter's maker, model and
// serial number, its vendor:product id, the driver's name). Empty where nothing is known, as on
// Windows and for ports the system describes no further.
struct KPortAdapter {
    std::string maker;
    std::string model;
    std::string serial;
    std::string usbId;  // "0403:6001"
    std::string driver;

    bool Empty() const;
    // "FTDI FT232R USB UART, serial A50285BI, USB 0403:6001, driver ftdi_sio": the parts known.
    std::string Describe() const;
};
