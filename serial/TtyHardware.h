#pragma once

#include <string>

// What sysfs and udev's links tell about the hardware behind a serial
// device, for --list-ports. Every text is as the kernel gives it, its line
// end removed; any field the system does not know is empty.
struct TtyHardware {
    std::string node;         // the device node the name resolves to, e.g. /dev/ttyUSB0
    std::string driver;       // ftdi_sio, cp210x, ch341, cdc_acm, serial8250, ...
    std::string vendorId;     // of the USB device, e.g. "0403"
    std::string productId;    // e.g. "6001"
    std::string manufacturer; // the USB device's own strings
    std::string product;
    std::string serialNumber;
    std::string byId;         // the /dev/serial/by-id link to the node
    bool givenById = false;   // the name asked about leads to the node through that link
    std::string console;      // the kernel console's name when the node is one, e.g. "ttyS0"
};
