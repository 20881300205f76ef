#include <QTest>
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
    std::string error;

    // Mappings replace the detected table entirely.
    PortTable table;
    table.Map("COM2", "/dev/detected");
    const CommandLine mapped = ParseArgs({"--map", "COM5=/dev/five", "--map", "COM1=/dev/one"}, storage);
    QVERIFY(mapped.ApplyPortTable(table, error));
    QCOMPARE(table.Resolve("COM1").value_or(""), std::string("/dev/one"));
    QCOMPARE(table.Resolve("COM5").value_or(""), std::string("/dev/five"));
    QVERIFY(!table.Resolve("COM2").has_value());

    PortTable untouched;
    untouched.Map("COM2", "/dev/kept");
    const CommandLine bad = ParseArgs({"--map", "COM13=/dev/x"}, storage);
    QVERIFY(!bad.ApplyPortTable(untouched, error));
    QVERIFY(!error.empty());
    QCOMPARE(untouched.Resolve("COM2").value_or(""), std::string("/dev/kept"));
}

QTEST_MAIN(CommandLineTest)
#include "CommandLineTest.moc"
