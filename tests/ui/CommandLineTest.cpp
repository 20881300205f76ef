#include <QTest>
#include <sstream>
#include <string>
#include <vector>

#include "serial/PortTable.h"
#include "ui/CommandLine.h"

namespace {

CommandLine ParseArgs(const QStringList& args, std::vector<std::string>& storage)
{
    storage.assign(1, "kvm-upgrade");
    for (const QString& arg : args)
        storage.push_back(arg.toStdString());
    std::vector<const char*> argv;
    for (const std::string& arg : storage)
        argv.push_back(arg.c_str());
    return CommandLine::Parse(static_cast<int>(argv.size()), argv.data());
}

QStringList ToQt(const std::vector<std::string>& strings)
{
    QStringList list;
    for (const std::string& s : strings)
        list << QString::fromStdString(s);
    return list;
}

} // namespace

class CommandLineTest : public QObject {
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void portTable();
    void listPortsShowsNoControls_data();
    void listPortsShowsNoControls();
};

void CommandLineTest::parse_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("flags");      // h v l for help, version, list-ports
    QTest::addColumn<QStringList>("maps");
    QTest::addColumn<QString>("screenshot");
    QTest::addColumn<QStringList>("toolkitArgs"); // after the program name
    QTest::addColumn<bool>("error");

    QTest::newRow("nothing") << QStringList() << "" << QStringList() << "" << QStringList() << false;
    QTest::newRow("version") << QStringList{"--version"} << "v" << QStringList() << "" << QStringList() << false;
    QTest::newRow("help") << QStringList{"-h"} << "h" << QStringList() << "" << QStringList() << false;
    QTest::newRow("maps in order") << QStringList{"--map", "COM3=/dev/a", "--map=COM1=/dev/b", "--list-ports"} << "l"
                                   << QStringList{"COM3=/dev/a", "COM1=/dev/b"} << "" << QStringList() << false;
    QTest::newRow("screenshot") << QStringList{"--screenshot", "out.png"} << "" << QStringList() << "out.png"
                                << QStringList() << false;
    QTest::newRow("screenshot=") << QStringList{"--screenshot=x.png"} << "" << QStringList() << "x.png"
                                 << QStringList() << false;
    QTest::newRow("toolkit options") << QStringList{"-platform", "offscreen", "-reverse"} << "" << QStringList() << ""
                                     << QStringList{"-platform", "offscreen", "-reverse"} << false;
    QTest::newRow("map without value") << QStringList{"--map"} << "" << QStringList() << "" << QStringList() << true;
    QTest::newRow("empty screenshot") << QStringList{"--screenshot="} << "" << QStringList() << "" << QStringList()
                                      << true;
    QTest::newRow("map=") << QStringList{"--map=COM1=/dev/b"} << "" << QStringList{"COM1=/dev/b"} << ""
                          << QStringList() << false;
    QTest::newRow("flag with a value") << QStringList{"--list-ports=1"} << "" << QStringList() << ""
                                       << QStringList() << true;
    QTest::newRow("unknown long option") << QStringList{"--bogus"} << "" << QStringList() << "" << QStringList()
                                         << true;
    QTest::newRow("stray word") << QStringList{"file.bin"} << "" << QStringList() << "" << QStringList() << true;
}

void CommandLineTest::parse()
{
    QFETCH(QStringList, args);
    QFETCH(QString, flags);
    QFETCH(QStringList, maps);
    QFETCH(QString, screenshot);
    QFETCH(QStringList, toolkitArgs);
    QFETCH(bool, error);

    std::vector<std::string> storage;
    const CommandLine options = ParseArgs(args, storage);
    QCOMPARE(!options.error.empty(), error);
    if (error)
        return;
    QCOMPARE(options.showHelp, flags.contains('h'));
    QCOMPARE(options.showVersion, flags.contains('v'));
    QCOMPARE(options.listPorts, flags.contains('l'));
    QCOMPARE(ToQt(options.maps), maps);
    QCOMPARE(QString::fromStdString(options.screenshot), screenshot);
    QCOMPARE(ToQt(options.toolkitArgs), QStringList{"kvm-upgrade"} + toolkitArgs);
}

void CommandLineTest::portTable()
{
    std::vector<std::string> storage;
    std::ostringstream out;
    std::ostringstream err;

    // Mappings replace the detected table entirely.
    CommandLine mapped = ParseArgs({"--map", "COM5=/dev/five", "--map", "COM1=/dev/one"}, storage);
    QVERIFY(!mapped.RunEarly(out, err, true).has_value());
    const PortTable& table = PortTable::Process();
    QCOMPARE(table.Entries().size(), std::size_t(2));
    QCOMPARE(table.Resolve("COM1").value_or(""), std::string("/dev/one"));
    QCOMPARE(table.Source("COM5"), std::string("from the command line"));

    CommandLine bad = ParseArgs({"--map", "COM13=/dev/x"}, storage);
    QCOMPARE(bad.RunEarly(out, err, true).value_or(-1), 2);
    QVERIFY(err.str().find("--map COM13=/dev/x: ") != std::string::npos);
}

// A device's path, or what sysfs says of its adapter, reaches the terminal:
// no control character of it may, C1 controls in UTF-8 (C2 9B is CSI) and
// bytes of no UTF-8 character (a lone 9B) included.
void CommandLineTest::listPortsShowsNoControls_data()
{
    QTest::addColumn<QByteArray>("device");
    QTest::addColumn<QByteArray>("shown");

    QTest::newRow("escape") << QByteArray("/dev/x\x1b]0;t\x07") << QByteArray("/dev/x\\x1b]0;t\\x07");
    QTest::newRow("C1 in UTF-8") << QByteArray("/dev/x\xc2\x9b" "2J") << QByteArray("/dev/x\\xc2\\x9b2J");
    QTest::newRow("lone C1 byte") << QByteArray("/dev/x\x9d" "0;t") << QByteArray("/dev/x\\x9d0;t");
    QTest::newRow("UTF-8 stays") << QByteArray("/dev/caf\xc3\xa9") << QByteArray("/dev/caf\xc3\xa9");
}

void CommandLineTest::listPortsShowsNoControls()
{
    QFETCH(QByteArray, device);
    QFETCH(QByteArray, shown);
    std::vector<std::string> storage{"kvm-upgrade", "--map", "COM1=" + device.toStdString(), "--list-ports"};
    std::vector<const char*> argv;
    for (const std::string& arg : storage)
        argv.push_back(arg.c_str());
    CommandLine listing = CommandLine::Parse(static_cast<int>(argv.size()), argv.data());
    std::ostringstream out;
    std::ostringstream err;
    QCOMPARE(listing.RunEarly(out, err, true).value_or(-1), 0);
    const std::string text = out.str();
    QVERIFY2(text.rfind("COM1  " + shown.toStdString() + "\n", 0) == 0, text.c_str());
}

QTEST_MAIN(CommandLineTest)
#include "CommandLineTest.moc"
