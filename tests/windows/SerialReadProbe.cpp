// One read on a real COM port, timed, for the Read rule's test under Wine
// (tests/wine): opens DEVICE (\\.\COMn) as the product opens a port, sets the interval, says
// "ready", makes one Read of N bytes and prints what came and how long it
// took: "got K bytes in T ms".
//   serial_read_probe DEVICE N INTERVAL_MS

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "serial/CSerialPort.h"
#include "serial/PortTable.h"

int main(int argc, char* argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: serial_read_probe DEVICE N INTERVAL_MS\n");
        return 2;
    }
    const int length = std::atoi(argv[2]);
    const int interval = std::atoi(argv[3]);
    PortTable table;
    table.Map("COM1", argv[1]);
    CSerialPort port(&table);
    if (!port.Open("COM1", 115200, 1000)) {
        std::fprintf(stderr, "%s\n", port.LastOpenError().Describe().c_str());
        return 1;
    }
    if (!port.SetTimeouts(interval)) {
        std::fprintf(stderr, "time-outs refused\n");
        return 1;
    }
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(length) + 1, 0);
    std::printf("ready\n");
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    const int whole = port.Read(buffer.data(), length);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    int got = 0;
    while (got < length && buffer[static_cast<std::size_t>(got)] != 0)
        ++got;
    std::printf("got %d bytes in %lld ms (whole %d)\n", got, static_cast<long long>(took.count()), whole);
    port.Close();
    return 0;
}
