#include "TestFirmware.h"

#include <QFile>

#include "firmware/Crc16.h"

QString TestFirmware::Write(const QString& name, const QByteArray& bytes) const
{
    const QString path = PathOf(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QString();
    file.write(bytes);
    return path;
}

QByteArray TestFirmware::Filler(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + 3) & 0x7F); // never the marker's bytes
    return bytes;
}

QByteArray TestFirmware::WithCrc(const QByteArray& body)
{
    const std::uint16_t crc =
        Crc16(reinterpret_cast<const std::uint8_t*>(body.constData()), static_cast<std::uint32_t>(body.size()));
    QByteArray bytes = body;
    bytes.append(static_cast<char>(crc >> 8));
    bytes.append(static_cast<char>(crc & 0xFF));
    return bytes;
}

QByteArray TestFirmware::WithInfoRecord(int size, std::uint8_t index, std::uint8_t d1, std::uint8_t d2,
                                        std::uint8_t d3)
{
    QByteArray body = Filler(size - 12);
    const std::uint8_t last = static_cast<std::uint8_t>(0x100 - ((index + d1 + d2 + d3) & 0xFF));
    const std::uint8_t record[10] = {index, d1, d2, d3, 0, last, 0xB1, 0xB2, 0xAA, 0x55};
    body.append(reinterpret_cast<const char*>(record), sizeof record);
    return WithCrc(body);
}
