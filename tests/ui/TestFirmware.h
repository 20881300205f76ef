#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <cstdint>

// Firmware files made by the dialog tests, in a temporary folder that goes
// away with the object.
class TestFirmware {
public:
    TestFirmware() = default;

    bool IsValid() const { return m_dir.isValid(); }
    // Writes bytes to name inside the folder; returns the full path.
    QString Write(const QString& name, const QByteArray& bytes) const;
    QString PathOf(const QString& name) const { return m_dir.filePath(name); }

    // body followed by its CRC-16 trailer, high byte first.
    static QByteArray WithCrc(const QByteArray& body);
    // size - 12 filler bytes, then a valid info record (model index, three
    // date bytes, a zero and the byte that brings the six to 0 mod 256, then
    // the marker B1 B2 AA 55), then the CRC trailer.
    static QByteArray WithInfoRecord(int size, std::uint8_t index, std::uint8_t d1, std::uint8_t d2,
                                     std::uint8_t d3);
    static QByteArray Filler(int size);

private:
    QTemporaryDir m_dir;
};
