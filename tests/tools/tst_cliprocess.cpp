#include "PcapFile.h"

#include "EipProtocol.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

// The built `quorvex` as a user runs it: arguments, exit status, what it
// prints, against `quorvex sim` started as a process on a free port.
class TstCliProcess : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void badArguments_data();
    void badArguments();
    void helpForEveryCommand_data();
    void helpForEveryCommand();
    void readJson();
    void readTable();
    void writeThenRead();
    void connectFailureInWords_data();
    void connectFailureInWords();
    void failuresUnderTheirOwnTag_data();
    void failuresUnderTheirOwnTag();
    void traceShowsDriverLines();
    void watchPrintsChangesOnly();
    void watchShowsAnOutage_data();
    void watchShowsAnOutage();
    void demoExitsZero();
    void benchReports();
    void pcapWellFormed();
    void pcapDissectedAsEnip();
    void pcapOfAConnectedRead();
    void identityFromTagFile_data();
    void identityFromTagFile();
    void browsedTypesMatchTagFile();
    void readmeFirstSession();

private:
    struct Result {
        bool finished = false;
        int exitCode = -1;
        QString out, err;
    };
    Result run(const QStringList &args, int timeoutMs = 60000);
    QString writePcap();

    QProcess sim;
    QString address;
    QTemporaryDir dir;
    QString pcapPath;
};

namespace
{

QString tool()
{
    return QStringLiteral(QUORVEX_BIN_DIR "/quorvex");
}

// Starts `quorvex sim` with these arguments on a free port; its address, or
// an empty text.
QString startSim(QProcess &sim, const QStringList &args)
{
    sim.start(tool(), QStringList{"sim", "--listen", "127.0.0.1:0"} + args);
    if (!sim.waitForStarted(10000))
        return QString();
    QByteArray line;
    QElapsedTimer t;
    t.start();
    while (!line.contains('\n') && t.elapsed() < 15000 && sim.state() == QProcess::Running) {
        sim.waitForReadyRead(500);
        line += sim.readAllStandardOutput();
    }
    return line.startsWith("LISTEN ") ? QString::fromLatin1(line.mid(7).trimmed()) : QString();
}

} // namespace

TstCliProcess::Result TstCliProcess::run(const QStringList &args, int timeoutMs)
{
    Result r;
    QProcess p;
    p.start(tool(), args);
    if (!p.waitForStarted(10000))
        return r;
    r.finished = p.waitForFinished(timeoutMs);
    if (!r.finished) {
        p.kill();
        p.waitForFinished(5000);
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

void TstCliProcess::initTestCase()
{
    QVERIFY(dir.isValid());
    address = startSim(sim, {"--max-seconds", "220"});
    QVERIFY(!address.isEmpty());
}

void TstCliProcess::cleanupTestCase()
{
    if (sim.state() != QProcess::NotRunning) {
        sim.terminate();
        if (!sim.waitForFinished(5000)) {
            sim.kill();
            sim.waitForFinished(5000);
        }
    }
}

void TstCliProcess::badArguments_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    const QString c = "--connect=127.0.0.1:9";
    QTest::newRow("no command") << QStringList() << "usage: quorvex";
    QTest::newRow("unknown command") << QStringList{"frob"} << "unknown command 'frob'";
    QTest::newRow("read without --connect") << QStringList{"read", "A"} << "--connect is required";
    QTest::newRow("read without tags") << QStringList{"read", c} << "no tag given";
    QTest::newRow("read bad type") << QStringList{"read", c, "A:word"} << "unknown type 'word'";
    QTest::newRow("read bad count") << QStringList{"read", c, "A:int32:0"} << "count '0'";
    QTest::newRow("read empty tag") << QStringList{"read", c, ":int32"} << "tag name is empty";
    QTest::newRow("read unknown option")
        << QStringList{"read", c, "--frob", "A"} << "Unknown option 'frob'";
    QTest::newRow("read option without value")
        << QStringList{"read", "A", "--connect"} << "Missing value after '--connect'";
    QTest::newRow("watch interval 0")
        << QStringList{"watch", c, "--interval", "0", "A"} << "--interval";
    QTest::newRow("watch times not a number")
        << QStringList{"watch", c, "--times", "x", "A"} << "--times";
    QTest::newRow("watch bad tag") << QStringList{"watch", c, "A:int32:x"} << "count 'x'";
    QTest::newRow("demo stray argument") << QStringList{"demo", "A"} << "unexpected argument 'A'";
    QTest::newRow("identity without --connect")
        << QStringList{"identity"} << "--connect needs a usable connection string";
    QTest::newRow("bench reads 0") << QStringList{"bench", "--reads", "0"} << "--reads";
    QTest::newRow("write value not of its type")
        << QStringList{"write", c, "A:int16=70000"} << "'70000' is no int16 value";
    QTest::newRow("bench delay with a server")
        << QStringList{"bench", c, "--delay-ms", "1"} << "--delay-ms";
    // A connection string the driver refuses is a bad argument too, told in
    // English from the driver's own warning.
    QTest::newRow("connect option misspelt")
        << QStringList{"read", c + ";slto=3", "A"}
        << "bad option in the connection string: unknown option 'slto' (the options are slot, "
           "path,";
    QTest::newRow("connect option suggestion")
        << QStringList{"read", c + ";slto=3", "A"} << "; did you mean slot?";
    QTest::newRow("connect option out of range")
        << QStringList{"read", c + ";timeout=5", "A:int32"}
        << "timeout=5 is out of range: timeout takes MS from 10 to 60000";
    QTest::newRow("connect slot with path")
        << QStringList{"watch", c + ";slot=1;path=1,0", "A"}
        << "path=1,0 cannot go with slot: slot and path both set the route";
    QTest::newRow("connect option twice")
        << QStringList{"write", c + ";window=2;window=3", "A=1"} << "option window is given twice";
    QTest::newRow("connect host name")
        << QStringList{"read", "--connect", "plc.local:44818", "A"}
        << "'plc.local' is not an IPv4 address: no name lookup is done";
    QTest::newRow("connect without a port")
        << QStringList{"read", "--connect", "plc", "A"} << "'plc' is neither ADDRESS:PORT nor";
    QTest::newRow("connect port out of range")
        << QStringList{"read", "--connect", "127.0.0.1:70000", "A"}
        << "the port '70000' is not a number from 1 to 65535";
    QTest::newRow("write with writes off")
        << QStringList{"write", c + ";write=off", "A=1"}
        << "--connect has write=off, with which the driver sends nothing";
    QTest::newRow("identity option misspelt")
        << QStringList{"identity", c + ";slto=3"} << "unknown option 'slto'";
    QTest::newRow("tags option misspelt")
        << QStringList{"tags", c + ";conected=large"} << "did you mean connected?";
}

void TstCliProcess::badArguments()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    const Result r = run(args);
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 2);
    QVERIFY2(r.err.contains(message), qPrintable(r.err));
    QCOMPARE(r.out, QString());
}

void TstCliProcess::helpForEveryCommand_data()
{
    QTest::addColumn<QString>("command");
    for (const char *c : {"read", "write", "watch", "tags", "demo", "bench", "sim", "identity"})
        QTest::newRow(c) << QString(c);
    QTest::newRow("quorvex --help") << QString();
}

void TstCliProcess::helpForEveryCommand()
{
    QFETCH(QString, command);
    const Result r =
        run(command.isEmpty() ? QStringList{"--help"} : QStringList{command, "--help"});
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(r.out.contains("quorvex " + command) && r.out.contains("--help"), qPrintable(r.out));
    if (command != "sim" && command != "demo")
        QVERIFY(r.out.contains("--connect"));
    // Every help that takes a connection string says what may follow it.
    if (command.isEmpty())
        QVERIFY2(r.out.contains(";slot= ;path= ;connected= ;timeout=") &&
                     r.out.contains(";reconnect=") && r.out.contains("\"192.168.1.10:44818;slot=3"),
                 qPrintable(r.out));
    else if (command == "sim") // points to where they are listed
        QVERIFY2(r.out.contains("--connect HOST:PORT[;options]"), qPrintable(r.out));
    else if (command != "demo")
        QVERIFY2(r.out.contains(";timeout=MS (10..60000)") && r.out.contains(";reconnect=") &&
                     r.out.contains(";options"),
                 qPrintable(r.out));
}

void TstCliProcess::readJson()
{
    const Result r =
        run({"read", "--json", "--connect", address, "DintTag", "RealTag:float", "Names:string:5",
             "BigArray:int32:3000", "UlintTag:uint64", "NoSuchTag:int16:2"});
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 1); // the unknown tag failed
    QVERIFY2(r.err.contains("NoSuchTag: status 7 (reply rejected)"), qPrintable(r.err));
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 6);
    const QRegularExpression shape(
        "^\\{\"tag\":\"[^\"]+\",\"type\":\"[a-z0-9]+\",\"count\":\\d+,\"status\":\\d+,"
        "\"values\":\\[.*\\],\"timestamp\":(null|\"[^\"]+\")\\}$");
    QList<QJsonObject> o;
    for (const QString &l : lines) {
        QVERIFY2(shape.match(l).hasMatch(), qPrintable(l));
        QJsonParseError e;
        o << QJsonDocument::fromJson(l.toUtf8(), &e).object();
        QCOMPARE(e.error, QJsonParseError::NoError);
    }
    QCOMPARE(lines[0].left(lines[0].indexOf(",\"timestamp\"")),
             QString("{\"tag\":\"DintTag\",\"type\":\"int32\",\"count\":1,\"status\":0,"
                     "\"values\":[42]"));
    QVERIFY(QDateTime::fromString(o[0]["timestamp"].toString(), Qt::ISODateWithMs).isValid());
    QCOMPARE(o[1]["values"].toArray(), QJsonArray{1.5});
    QCOMPARE(o[2]["values"].toArray(), (QJsonArray{"Alpha", "Bravo", "Charlie", "Delta", "Echo"}));
    const QJsonArray big = o[3]["values"].toArray();
    QCOMPARE(big.size(), 3000); // every value, not shortened
    for (int i = 0; i < big.size(); ++i)
        QCOMPARE(big[i].toInt(), i);
    QVERIFY(lines[4].contains("\"values\":[18000000000000000000]"));
    QCOMPARE(lines[5], QString("{\"tag\":\"NoSuchTag\",\"type\":\"int16\",\"count\":2,"
                               "\"status\":7,\"values\":[],\"timestamp\":null}"));
}

void TstCliProcess::readTable()
{
    const Result r =
        run({"read", "--connect", address, "IntArray:int16:300", "StringTag:string", "BoolTag"});
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 0);
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4);
    // The one value asked for, and the padding the driver brought with it.
    QVERIFY2(QRegularExpression("^BoolTag +bool +1 +0 ok +true \\(\\+15 padding bits\\) ")
                 .match(lines[3])
                 .hasMatch(),
             qPrintable(lines[3]));
    QVERIFY(lines[0].startsWith("TAG"));
    QVERIFY2(
        lines[1].contains("0 ok") &&
            lines[1].contains("-150, -149, -148, -147, -146, -145, ..., 148, 149 (300 values)"),
        qPrintable(lines[1]));
    QVERIFY2(lines[2].contains("\"Hello, PLC\""), qPrintable(lines[2]));
}

// Tags no other test reads: the simulator is shared by the whole run.
void TstCliProcess::writeThenRead()
{
    // Without a TYPE the controller's type is taken: Temp is a REAL.
    const Result w =
        run({"write", "--json", "--connect", address, "Cfg.Limits[5]=-5,-6",
             "Motors[0].Name:string=\"a, b\"", "Cfg.Gain:int32=1", "Motors[2].Temp=2.5"});
    QVERIFY(w.finished);
    QCOMPARE(w.exitCode, 1); // Gain is a REAL
    const QStringList lines = w.out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4);
    QVERIFY2(lines[3].startsWith("{\"tag\":\"Motors[2].Temp\",\"type\":\"float\",\"count\":1,"
                                 "\"status\":0,\"values\":[2.5]"),
             qPrintable(lines[3]));
    QVERIFY2(lines[0].startsWith("{\"tag\":\"Cfg.Limits[5]\",\"type\":\"int32\",\"count\":2,"
                                 "\"status\":0,\"values\":[-5,-6],\"timestamp\":\""),
             qPrintable(lines[0]));
    QVERIFY2(lines[2].contains("\"status\":7"), qPrintable(lines[2]));
    QVERIFY2(w.err.contains("Cfg.Gain: status 7") && w.err.contains("0x2107"), qPrintable(w.err));
    const Result r = run({"read", "--json", "--connect", address, "Cfg.Limits[4]:int32:3",
                          "Motors[0].Name:string", "Motors[2].Temp"});
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(r.out.contains("\"values\":[104,-5,-6]") && r.out.contains("\"values\":[\"a, b\"]") &&
                 r.out.contains("\"tag\":\"Motors[2].Temp\",\"type\":\"float\",\"count\":1,"
                                "\"status\":0,\"values\":[2.5]"),
             qPrintable(r.out));

    // A bit, an element of a BOOL array and a text type, typed from the
    // controller: bool, bool, string.
    const Result bits = run({"write", "--json", "--connect", address, "Cfg.Limits[7].2=1",
                             "BoolArray[40]=true", "Texts20[2]=four"});
    QVERIFY2(bits.exitCode == 0, qPrintable(bits.err));
    QVERIFY2(bits.out.contains("{\"tag\":\"Cfg.Limits[7].2\",\"type\":\"bool\",\"count\":1,"
                               "\"status\":0,\"values\":[true]"),
             qPrintable(bits.out));
    const Result back = run({"read", "--json", "--connect", address, "Cfg.Limits[7]",
                             "BoolArray[39]:bool:3", "Texts20", "BoolArray"});
    QVERIFY2(back.exitCode == 0, qPrintable(back.err));
    QVERIFY2(back.out.contains("\"values\":[111]") &&
                 back.out.contains("\"values\":[true,true,false]") &&
                 back.out.contains("\"values\":[\"one\",\"two\",\"four\"]") &&
                 back.out.contains("{\"tag\":\"BoolArray[0]\",\"type\":\"bool\",\"count\":64,"),
             qPrintable(back.out));
}

// Each mistake and failure in English, with its exit status. "@" stands for
// the address of a simulator started with `sim` (the shared one without).
void TstCliProcess::connectFailureInWords_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("sim");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("absent"); // on stderr
    const QStringList shared;
    QTest::newRow("nobody listens")
        << QStringList{"read", "--connect", "127.0.0.1:1", "A"} << shared << 1
        << "cannot connect to 127.0.0.1:1: nothing listening on 127.0.0.1:1 (connection refused)"
        << "result -3";
    QTest::newRow("no separator") << QStringList{"read", "--connect", "plc", "A"} << shared << 2
                                  << "neither ADDRESS:PORT"
                                  << "";
    QTest::newRow("not an address") << QStringList{"read", "--connect", "plc.local:44818", "A"}
                                    << shared << 2 << "not an IPv4 address"
                                    << "";
    QTest::newRow("no plug-in") << QStringList{"read",      "--driver",    "/nonexistent/libX.so",
                                               "--connect", "127.0.0.1:1", "A"}
                                << shared << 1 << "cannot load the driver"
                                << "";
    QTest::newRow("serial port absent")
        << QStringList{"read", "--connect", "/nonexistent/ttyQ,9600,8,1,N", "A"} << shared << 1
        << "cannot open the serial port /nonexistent/ttyQ: No such file or directory"
        << "";
    QTest::newRow("serial port not a terminal")
        << QStringList{"read", "--connect", "/dev/null,9600,8,1,N", "A"} << shared << 1
        << "cannot open the serial port /dev/null: not a serial port (Inappropriate ioctl for "
           "device)"
        << "";
    QTest::newRow("registration unanswered")
        << QStringList{"read", "--connect", "@", "DintTag:int32"}
        << QStringList{"--silent-after", "0"} << 1
        << "but the session registration got no reply in 0.55 s; a slow controller? try "
           ";timeout=3000"
        << "";
    QTest::newRow("registration unanswered, own wait")
        << QStringList{"identity", "--connect", "@;timeout=300"}
        << QStringList{"--silent-after", "0"} << 1
        << "the session registration got no reply in 0.3 s"
        << "";
    QTest::newRow("registration refused")
        << QStringList{"read", "--connect", "@", "DintTag:int32"}
        << QStringList{"--reject-register"} << 1
        << "but the controller refused the session registration: encapsulation status 0x0069 "
           "unsupported protocol revision"
        << "";
    QTest::newRow("closed at registration")
        << QStringList{"tags", "--connect", "@"} << QStringList{"--close-after", "0"} << 1
        << "but it closed the connection when asked to register a session"
        << "";
    QTest::newRow("wrong route, read typed from the controller")
        << QStringList{"read", "--connect", "@", "DintTag"} << QStringList{"--slot", "1"} << 1
        << "tag list: the controller answered 0x01/0x0312 link address not valid: check slot= "
           "or path=\nquorvex read: tags without a TYPE are read as int32\nquorvex read: "
           "DintTag: status 7 (reply rejected): the controller refused the read: 0x01/0x0312"
        << "reply service";
    QTest::newRow("wrong route, tags")
        << QStringList{"tags", "--connect", "@;slot=2"} << QStringList{"--slot", "1"} << 1
        << "0x01/0x0312 link address not valid"
        << "";
    QTest::newRow("wrong route, identity")
        << QStringList{"identity", "--connect", "@"} << QStringList{"--slot", "1"} << 1
        << "Identity object: reply rejected: the controller refused the Identity request: "
           "0x01/0x0312 link address not valid"
        << "";
    QTest::newRow("wrong route, written without a type")
        << QStringList{"write", "--connect", "@", "RealTag=2.5"} << QStringList{"--slot", "1"} << 2
        << "'RealTag=2.5': '2.5' is no int32 value, the type a tag without :TYPE takes when the "
           "tag list cannot be read: give :TYPE"
        << "";
    QTest::newRow("a misspelt name written without a type")
        << QStringList{"write", "--connect", "@", "RealTga=2.5"} << shared << 2
        << "'RealTga=2.5': '2.5' is no int32 value, the type a tag without :TYPE takes when the "
           "controller's tag list has no RealTga: check the name"
        << "";
    QTest::newRow("unknown program")
        << QStringList{"tags", "--connect", "@", "--program", "Nope"} << shared << 1
        << "tag list of program Nope: the controller has no program named Nope (0x05 path "
           "destination unknown"
        << "general status";
    QTest::newRow("a structure written whole")
        << QStringList{"write", "--connect", "@", "Motor=1"} << shared << 1
        << "'Motor' is a structure: write its members by name, e.g. Motor."
        << "";
    QTest::newRow("an address refused, without a stray line")
        << QStringList{"read", "--connect", "@", "Bad Name"} << shared << 1
        << "Bad Name: status 3 (address refused): nothing was sent"
        << "Disconnected=";
    QTest::newRow("tags, without a stray line")
        << QStringList{"tags", "--connect", "@"} << shared << 0 << ""
        << "Disconnected=";
    QTest::newRow("identity, without a stray line")
        << QStringList{"identity", "--connect", "@"} << shared << 0 << ""
        << "Disconnected=";
    QTest::newRow("read typed from the controller, without a stray line")
        << QStringList{"read", "--connect", "@", "DintTag"} << shared << 0 << ""
        << "lib[Quorvex]";
}

void TstCliProcess::connectFailureInWords()
{
    QFETCH(QStringList, args);
    QFETCH(QStringList, sim);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    QFETCH(QString, absent);
    QProcess own;
    const QString at =
        sim.isEmpty() ? address : startSim(own, sim + QStringList{"--max-seconds", "30"});
    args.replaceInStrings("@", at);
    const Result r = at.isEmpty() ? Result() : run(args);
    if (!sim.isEmpty()) {
        own.kill();
        own.waitForFinished(5000);
    }
    QVERIFY(!at.isEmpty());
    QVERIFY(r.finished);
    QVERIFY2(r.exitCode == exitCode, qPrintable(r.err));
    QVERIFY2(r.err.contains(message), qPrintable(r.err));
    if (!absent.isEmpty())
        QVERIFY2(!r.err.contains(absent), qPrintable(r.err));
}

// The lines under a failed tag are the ones its own call logged.
void TstCliProcess::failuresUnderTheirOwnTag_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("heads");  // what each failure's first line holds
    QTest::addColumn<QStringList>("driver"); // what its driver line holds; "": none
    QTest::newRow("three unknown tags")
        << QStringList{"read", "Aaa", "Bbb", "Ccc"}
        << QStringList{"quorvex read: Aaa: status 7 (reply rejected): the controller refused "
                       "the read: 0x05 path destination unknown: no such tag or member",
                       "quorvex read: Bbb: status 7 (reply rejected): the controller refused "
                       "the read: 0x05 path destination unknown: no such tag or member",
                       "quorvex read: Ccc: status 7 (reply rejected): the controller refused "
                       "the read: 0x05 path destination unknown: no such tag or member"}
        << QStringList{"  driver: lib[Quorvex]报文返回状态错误 @  Aaa len = 1 status = 0x05",
                       "  driver: lib[Quorvex]报文返回状态错误 @  Bbb len = 1 status = 0x05",
                       "  driver: lib[Quorvex]报文返回状态错误 @  Ccc len = 1 status = 0x05"};
    QTest::newRow("a wrong type and an unknown tag written")
        << QStringList{"write", "DintTag:int16=3", "NoSuchTag=1"}
        << QStringList{"quorvex write: DintTag: status 7 (reply rejected): the controller "
                       "refused the write: 0xFF/0x2107 data type mismatch",
                       "quorvex write: NoSuchTag: status 7 (reply rejected): the controller "
                       "refused the write: 0x05 path destination unknown"}
        << QStringList{"  driver: lib[Quorvex]写入被拒绝 @  DintTag len = 1 status = 0xff ext = "
                       "0x2107",
                       "  driver: lib[Quorvex]写入被拒绝 @  NoSuchTag len = 1 status = 0x05 ext "
                       "= none"};
    QTest::newRow("a refused address between two unknown tags")
        << QStringList{"read", "Aaa:int32", "Bad Name", "Index[x]:int32"}
        << QStringList{"quorvex read: Aaa: status 7", "quorvex read: Bad Name: status 3",
                       "quorvex read: Index[x]: status 3"}
        << QStringList{"  driver: lib[Quorvex]报文返回状态错误 @  Aaa len = 1", "", ""};
}

void TstCliProcess::failuresUnderTheirOwnTag()
{
    QFETCH(QStringList, args);
    QFETCH(QStringList, heads);
    QFETCH(QStringList, driver);
    args.insert(1, "--connect");
    args.insert(2, address);
    const Result r = run(args);
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 1);
    // Each failure: its line, then the driver lines of its own call.
    QVector<QStringList> blocks;
    for (const QString &l : r.err.split('\n', Qt::SkipEmptyParts)) {
        if (l.startsWith("quorvex "))
            blocks.append({l});
        else if (!blocks.isEmpty())
            blocks.last().append(l);
    }
    QCOMPARE(blocks.size(), heads.size());
    for (int i = 0; i < blocks.size(); ++i) {
        QVERIFY2(blocks[i].first().startsWith(heads[i]), qPrintable(r.err));
        QCOMPARE(blocks[i].size(), driver[i].isEmpty() ? 1 : 2);
        if (!driver[i].isEmpty())
            QVERIFY2(blocks[i].at(1).startsWith(QString(driver[i]).replace("@", address)),
                     qPrintable(r.err));
    }
}

void TstCliProcess::traceShowsDriverLines()
{
    const Result r = run({"read", "--trace", "--connect", address, "DintTag"});
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(r.err.contains("lib[Quorvex]读命令 127.0.0.1:" + address.section(':', 1) +
                            " msg : 65000400000000000000000001000000000000000000000001000000"),
             qPrintable(r.err));
    QVERIFY(r.err.contains("lib[Quorvex]读响应"));
    QVERIFY(r.out.contains("42"));
}

void TstCliProcess::watchPrintsChangesOnly()
{
    const Result r = run({"watch", "--connect", address, "--interval", "20", "--times", "3",
                          "DintTag", "RealTag:float"});
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 0);
    // Not a terminal: one line per change, and the simulator's values hold still.
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines[0].contains("DintTag = [42] status 0 ok latency"), qPrintable(lines[0]));
    QVERIFY2(lines[1].contains("RealTag = [1.5]"), qPrintable(lines[1]));
    QVERIFY(!r.out.contains('\033'));
}

// A controller that restarts once: the change lines show the refusal and,
// with reconnect, the reopening and the recovery with its down time;
// without, watch says once what would have reopened it. With reconnect a
// controller not there yet when watch starts is waited for: the driver
// keeps trying, and so does watch.
void TstCliProcess::watchShowsAnOutage_data()
{
    QTest::addColumn<bool>("reconnect");
    QTest::addColumn<bool>("downAtStart");
    QTest::newRow("with reconnect") << true << false;
    QTest::newRow("without reconnect") << false << false;
    QTest::newRow("with reconnect, controller down at the start") << true << true;
}

void TstCliProcess::watchShowsAnOutage()
{
    QFETCH(bool, reconnect);
    QFETCH(bool, downAtStart);
    QProcess restarting;
    QString at;
    Result r;
    if (downAtStart) {
        // A port nobody serves yet; the simulator takes it once watch polls.
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        at = QStringLiteral("127.0.0.1:%1").arg(probe.serverPort());
        probe.close();
        QProcess watch;
        watch.start(tool(), {"watch", "--connect", at + ";reconnect", "--interval", "50", "--times",
                             "40", "DintTag:int32"});
        QVERIFY(watch.waitForStarted(10000));
        QTest::qWait(500);
        restarting.start(tool(), {"sim", "--listen", at, "--max-seconds", "30"});
        r.finished = watch.waitForFinished(60000);
        if (!r.finished) {
            watch.kill();
            watch.waitForFinished(5000);
        }
        r.exitCode = watch.exitStatus() == QProcess::NormalExit ? watch.exitCode() : -1;
        r.out = QString::fromUtf8(watch.readAllStandardOutput());
        r.err = QString::fromUtf8(watch.readAllStandardError());
    } else {
        at = startSim(restarting,
                      {"--restart-after", "3", "--restart-gap-ms", "300", "--max-seconds", "30"});
        QVERIFY(!at.isEmpty());
        r = run({"watch", "--connect", at + (reconnect ? ";reconnect" : ""), "--interval", "50",
                 "--times", "20", "DintTag"});
    }
    restarting.kill();
    restarting.waitForFinished(5000);
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 1); // reads failed meanwhile
    QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    if (!downAtStart) {
        QVERIFY2(lines.value(0).contains("DintTag = [42] status 0 ok"), qPrintable(r.out));
        lines.removeFirst();
    } else {
        QVERIFY2(r.err.contains("cannot connect to " + at) &&
                     r.err.contains("the driver keeps trying in the background (;reconnect); "
                                    "polling on") &&
                     r.err.contains("DintTag: status 9 (not connected): the driver is reopening "
                                    "the connection in the background (;reconnect)"),
                 qPrintable(r.err));
    }
    QVERIFY2(lines.size() >= (reconnect ? 2 : 1), qPrintable(r.out));
    QVERIFY2(lines[0].contains("status 9") && lines[0].endsWith(reconnect ? " reopening" : " down"),
             qPrintable(r.out));
    const QString notice = "the connection to the controller was lost; it stays down without "
                           ";reconnect, e.g. --connect \"" +
                           at + ";reconnect\" reopens it by itself";
    if (reconnect) {
        QVERIFY2(QRegularExpression("DintTag = \\[42\\] status 0 ok latency [0-9.]+ ms back after "
                                    "[0-9]+\\.[0-9] s$")
                     .match(lines[1])
                     .hasMatch(),
                 qPrintable(r.out));
        QVERIFY2(!r.err.contains("stays down"), qPrintable(r.err));
    } else {
        QCOMPARE(lines.size(), 1); // down for good
        QCOMPARE(r.err.count(notice), 1);
        QCOMPARE(r.err.count("DintTag: status 9 (not connected)"), 1);
    }
}

void TstCliProcess::demoExitsZero()
{
    const Result r = run({"demo"}, 120000);
    QVERIFY(r.finished);
    QVERIFY2(r.exitCode == 0, qPrintable(r.out + r.err));
    QVERIFY(r.out.contains("as expected"));
    QVERIFY(!r.out.contains("UNEXPECTED"));
    QVERIFY(r.out.contains("NoSuchTag"));
}

void TstCliProcess::benchReports()
{
    const Result r = run({"bench", "--connect", address, "--reads", "300", "--array-reads", "3",
                          "--window", "2", "--json"},
                         120000);
    QVERIFY(r.finished);
    QVERIFY2(r.exitCode == 0, qPrintable(r.err));
    QJsonParseError e;
    const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8(), &e).object();
    QCOMPARE(e.error, QJsonParseError::NoError);
    QCOMPARE(o["reads"].toInt(), 300);
    const QJsonObject connected = o["connected"].toObject();
    for (const char *part : {"one_element", "array"})
        for (const char *side : {"driver", "raw"}) {
            QVERIFY(o[part].toObject()[side].toObject()["median_us"].toDouble() > 0);
            QVERIFY(connected[part].toObject()[side].toObject()["median_us"].toDouble() > 0);
        }
    // 40,000 value bytes in parts of at most 480, or of a 4002-byte connection.
    QVERIFY(o["array_frames"].toObject()["raw"].toInt() >= 40000 / 480);
    QVERIFY(connected["array_frames"].toObject()["raw"].toInt() >= 40000 / 4002);
    QVERIFY(connected["array_frames"].toObject()["raw"].toInt() <
            o["array_frames"].toObject()["raw"].toInt());
    QVERIFY(o["vmrss_kb"].toObject()["after"].toInt() > 0);
    // window=1 and window=2, unconnected and connected.
    const QJsonArray runs = o["window"].toObject()["runs"].toArray();
    QCOMPARE(runs.size(), 4);
    for (const QJsonValue &run : runs)
        QVERIFY(run.toObject()["median_us"].toDouble() > 0);
}

QString TstCliProcess::writePcap()
{
    if (!pcapPath.isEmpty())
        return pcapPath;
    const QString path = dir.filePath("read.pcap");
    const Result r = run({"read", "--pcap", path, "--connect", address, "DintTag",
                          "BigArray:int32:1000", "NoSuchTag"});
    if (r.finished && r.exitCode == 1 && !r.err.contains("lib[Quorvex]读命令"))
        pcapPath = path; // --pcap alone traces into the file, not onto stderr
    return pcapPath;
}

void TstCliProcess::pcapWellFormed()
{
    const QString path = writePcap();
    QVERIFY(!path.isEmpty());
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const pcaptest::File p = pcaptest::parse(f.readAll());
    QVERIFY2(p.ok, qPrintable(p.error));
    QCOMPARE(p.magic, 0xA1B2C3D4u);
    QCOMPARE(p.linktype, 1u);
    QCOMPARE(p.snaplen, 65535u);
    QVERIFY(p.records.size() > 3);

    // Each direction is one gap-free byte stream of whole encapsulation
    // frames: the registration, then the reads.
    QByteArray up, down;
    quint32 nextUp = p.records[0].seq + 1, nextDown = p.records[1].seq + 1;
    for (int i = 3; i < p.records.size(); ++i) {
        const pcaptest::Record &r = p.records[i];
        const bool toController = r.dstPort == 44818;
        QCOMPARE(r.seq, toController ? nextUp : nextDown);
        (toController ? nextUp : nextDown) += quint32(r.payload.size());
        (toController ? up : down) += r.payload;
    }
    QList<quint16> commands;
    for (QByteArray *stream : {&up, &down}) {
        while (!stream->isEmpty()) {
            const int n = eip::completeFrameSize(*stream);
            QVERIFY2(n > 0, "a partial frame");
            commands << quint16(le::getPadded(*stream, eip::OffCommand, 2));
            stream->remove(0, n);
        }
    }
    // Requests then replies: RegisterSession and 1 + 9 + 1 reads each way
    // (1000 DINTs come in 480-byte parts).
    QCOMPARE(commands.size(), 2 * (1 + 1 + 9 + 1));
    QCOMPARE(commands[0], quint16(eip::RegisterSession));
    QCOMPARE(commands[commands.size() / 2], quint16(eip::RegisterSession));
    QCOMPARE(commands.count(quint16(eip::SendRRData)), 2 * 11);
}

void TstCliProcess::pcapDissectedAsEnip()
{
    const QString tshark = QStandardPaths::findExecutable("tshark");
    if (tshark.isEmpty())
        QSKIP("tshark is not installed");
    const QString path = writePcap();
    QVERIFY(!path.isEmpty());
    QProcess t;
    t.start(tshark, {"-r", path, "-Y", "enip", "-T", "fields", "-e", "enip.command", "-e",
                     "cip.symbol", "-e", "cip.genstat"});
    QVERIFY(t.waitForFinished(60000));
    QCOMPARE(t.exitCode(), 0);
    const QStringList rows =
        QString::fromUtf8(t.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(rows.size(), 2 * (1 + 1 + 9 + 1));
    QVERIFY(rows[0].startsWith("0x0065"));
    const QString all = rows.join('\n');
    QVERIFY2(all.contains("DintTag") && all.contains("BigArray") && all.contains("NoSuchTag"),
             qPrintable(all));
    // The partial transfers and the unknown tag show as CIP statuses.
    QVERIFY2(all.contains("0x06") && all.contains("0x05"), qPrintable(all));
}

// Over a connection the capture holds the Forward Open, the reads as
// SendUnitData and the Forward Close, and tshark reads them all cleanly.
void TstCliProcess::pcapOfAConnectedRead()
{
    const QString tshark = QStandardPaths::findExecutable("tshark");
    if (tshark.isEmpty())
        QSKIP("tshark is not installed");
    const QString path = dir.filePath("connected.pcap");
    const Result r = run(
        {"read", "--pcap", path, "--connect", address + ";connected=large", "BigArray:int32:1000"});
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 0);
    QProcess t;
    t.start(tshark, {"-r", path, "-Y", "enip", "-T", "fields", "-e", "enip.command", "-e",
                     "cip.service", "-e", "_ws.expert.severity", "-e", "_ws.malformed"});
    QVERIFY(t.waitForFinished(60000));
    QCOMPARE(t.exitCode(), 0);
    const QString all = QString::fromUtf8(t.readAllStandardOutput());
    QVERIFY2(all.contains("0x0070"), qPrintable(all)); // SendUnitData
    // Large Forward Open and Forward Close, requests and replies
    QVERIFY2(all.contains("0x5b") && all.contains("0xdb"), qPrintable(all));
    QVERIFY2(all.contains("0x4e") && all.contains("0xce"), qPrintable(all));
    t.start(tshark, {"-r", path, "-V"});
    QVERIFY(t.waitForFinished(60000));
    const QString detail = QString::fromUtf8(t.readAllStandardOutput());
    QVERIFY2(!detail.contains("Malformed") && !detail.contains("Expert Info (Warning") &&
                 !detail.contains("Expert Info (Error"),
             qPrintable(detail.right(3000)));
}

void TstCliProcess::identityFromTagFile_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("expected");
    const QString table = "  vendor id      77\n  device type    14\n  product code   901\n"
                          "  revision       20.11\n  status         0x0034\n"
                          "  serial number  0x12345678\n  product name   Line 4 Press\n";
    QTest::newRow("table") << QStringList()
                           << "ListIdentity:\n" + table + "Identity object:\n" + table;
    const QString fields = "{\"device_type\":14,\"product_code\":901,\"product_name\":\"Line 4 "
                           "Press\",\"revision\":\"20.11\",\"serial_number\":\"0x12345678\",";
    const QString tail = "\"status\":\"0x0034\",\"vendor\":77}";
    const QString json = "{\"identity_object\":" + fields + tail + ",\"list_identity\":" + fields +
                         "\"state\":3," + tail + "}\n";
    QTest::newRow("json, connected, routed")
        << QStringList{";connected=large;slot=0", "--json"} << json;
}

void TstCliProcess::identityFromTagFile()
{
    QFETCH(QStringList, options);
    QFETCH(QString, expected);
    QFile tags(dir.filePath("identity.json"));
    QVERIFY(tags.open(QIODevice::WriteOnly));
    tags.write(R"({"identity": {"product_name": "Line 4 Press", "serial_number": "0x12345678",
                   "vendor": 77, "device_type": 14, "product_code": 901, "revision": "20.11",
                   "status": "0x0034"}, "tags": []})");
    tags.close();
    QProcess own;
    const QString at = startSim(own, {"--tags", tags.fileName(), "--max-seconds", "60"});
    const Result r =
        at.isEmpty()
            ? Result()
            : run(QStringList{"identity", "--connect", at + options.value(0)} + options.mid(1));
    own.kill();
    own.waitForFinished(5000);
    QVERIFY(!at.isEmpty());
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, expected);
}

void TstCliProcess::browsedTypesMatchTagFile()
{
    // Tags read without a type: name, then type, count and values as read.
    const QVector<QStringList> reads{{"Plant.Stage", "int32", "1", "[3]"},
                                     {"Plant.Parts[1].Core.Count", "int32", "3", "[7,8,9]"},
                                     {"Plant.Parts[0].Core.Big", "int64", "1", "[9000000000]"},
                                     {"Plant.Parts[0].Core.Flag", "bool", "1", "[true"},
                                     {"Plant", "double", "1", "[0.5]", "Plant.Ratio"},
                                     {"Plant", "int16", "1", "[-7]", "Plant.Parts[1].Core.Level"},
                                     {"Program:Main.Local", "int32", "1", "[42]"},
                                     {"T3", "int32", "8", "[0,0,0,0,0,0,0,0]"},
                                     {"Banner", "string", "1", "[\"ok\"]"}};
    // Three nested structures: members as name, type, dims, offset as laid out.
    const QVector<QPair<QString, QVector<QVariantList>>> types{
        {"Inner",
         {{"Flag", "BOOL", 0, 0},
          {"Level", "INT", 0, 2},
          {"Gain", "REAL", 0, 4},
          {"Count", "DINT", 3, 8},
          {"Big", "LINT", 0, 24}}},
        {"Middle", {{"Id", "SINT", 0, 0}, {"Core", "Inner", 0, 8}, {"Spare", "INT", 2, 40}}},
        {"Outer",
         {{"Stage", "DINT", 0, 0}, {"Parts", "Middle", 2, 8}, {"Ratio", "LREAL", 0, 104}}}};
    QJsonArray typeArray;
    QHash<QString, QVariantMap> offsets;
    for (const auto &t : types) {
        QJsonArray members;
        for (const QVariantList &m : t.second) {
            QJsonObject o{{"name", m[0].toString()}, {"type", m[1].toString()}};
            if (m[2].toInt())
                o.insert("dims", QJsonArray{m[2].toInt()});
            members.append(o);
            offsets[t.first].insert(m[0].toString(), m[3]);
        }
        typeArray.append(
            QJsonObject{{"name", t.first},
                        {"handle", QStringLiteral("0x%1").arg(0x9200 + typeArray.size(), 0, 16)},
                        {"members", members}});
    }
    // 2000 tags (many pages of the list), two programs, 0 to 3 dimensions.
    const QStringList atomics{"BOOL", "SINT", "INT", "DINT", "LINT", "REAL", "LREAL"};
    const QVector<QJsonArray> dimChoices{{}, {4}, {2, 3}, {2, 2, 2}};
    QJsonArray tagArray;
    for (int i = 0; i < 2000; ++i)
        tagArray.append(QJsonObject{
            {"name", (i % 7 == 0    ? "Program:Main.T"
                      : i % 11 == 0 ? "Program:Aux.T"
                                    : "T") +
                         QString::number(i)},
            {"type", i % 13 == 0 ? types.at(i % 3).first : atomics.at(i % atomics.size())},
            {"dims", dimChoices.at(i % 4)}});
    const QJsonArray parts{
        QJsonObject{{"Core", QJsonObject{{"Flag", true}, {"Big", "9000000000"}}}},
        QJsonObject{{"Core", QJsonObject{{"Level", -7}, {"Count", QJsonArray{7, 8, 9}}}}}};
    tagArray.append(
        QJsonObject{{"name", "Plant"},
                    {"type", "Outer"},
                    {"dims", QJsonArray()},
                    {"value", QJsonObject{{"Stage", 3}, {"Parts", parts}, {"Ratio", 0.5}}}});
    tagArray.append(QJsonObject{
        {"name", "Program:Main.Local"}, {"type", "DINT"}, {"dims", QJsonArray()}, {"value", 42}});
    tagArray.append(QJsonObject{
        {"name", "Banner"}, {"type", "STRING"}, {"dims", QJsonArray()}, {"value", "ok"}});
    QFile file(dir.filePath("generated.json"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QJsonDocument(QJsonObject{{"types", typeArray}, {"tags", tagArray}}).toJson());
    file.close();

    QProcess own;
    const QString at = startSim(own, {"--tags", file.fileName(), "--max-seconds", "120"});
    QStringList readArgs{"read", "--json", "--connect", at};
    for (const QStringList &r : reads)
        readArgs.append(r[0]);
    QVector<Result> runs;
    for (const QStringList &args :
         {QStringList{"tags", "--json", "--all", "--connect", at}, readArgs,
          QStringList{"read", "--json", "--connect", at, "Plant.Parts[1].Core.Level:int16",
                      "T3:int32:8"},
          QStringList{"watch", "--times", "1", "--connect", at, "--tags-from-controller",
                      "program:main.loc*"}})
        runs.append(at.isEmpty() ? Result() : run(args));
    own.kill();
    own.waitForFinished(5000);
    QVERIFY2(!at.isEmpty(), own.readAllStandardError().constData());
    for (const Result &r : runs) {
        QVERIFY(r.finished);
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
    }

    // Every generated tag's name, type and dimensions; every member's offset.
    QHash<QString, QJsonObject> browsed;
    const QJsonObject doc = QJsonDocument::fromJson(runs[0].out.toUtf8()).object();
    for (const QJsonValue &v : doc.value("tags").toArray())
        browsed.insert(v.toObject().value("name").toString(), v.toObject());
    for (const QJsonValue &v : tagArray) {
        const QJsonObject g = v.toObject(), b = browsed.value(g.value("name").toString());
        QCOMPARE(b.value("type"), g.value("type"));
        QCOMPARE(b.value("dims"), g.value("dims"));
    }
    QHash<QString, QVariantMap> browsedOffsets;
    for (const QJsonValue &v : doc.value("structures").toArray())
        for (const QJsonValue &m : v.toObject().value("members").toArray())
            browsedOffsets[v.toObject().value("name").toString()].insert(
                m.toObject().value("name").toString(), m.toObject().value("offset").toInt());
    for (const auto &t : types)
        QCOMPARE(browsedOffsets.value(t.first), offsets.value(t.first));

    for (const QStringList &r : reads) {
        const QString line =
            QStringLiteral(
                "{\"tag\":\"%1\",\"type\":\"%2\",\"count\":%3,\"status\":0,\"values\":%4")
                .arg(r.value(4, r[0]), r[1], r[2], r[3]);
        QVERIFY2(runs[1].out.contains(line), qPrintable(line + "\n" + runs[1].out.left(3000)));
    }
    QVERIFY2(runs[2].out.contains(R"("values":[-7])") &&
                 runs[2].out.contains(
                     R"("T3","type":"int32","count":8,"status":0,"values":[0,0,0,0,0,0,0,0])"),
             qPrintable(runs[2].out));
    QVERIFY2(runs[3].out.contains("Program:Main.Local = [42]"), qPrintable(runs[3].out));
}

namespace
{

// Times and latencies differ from run to run; the rest must not.
QString steady(QString text)
{
    text.replace(QRegularExpression("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}"),
                 "<time>");
    text.replace(QRegularExpression("latency \\d+\\.\\d\\d ms"), "latency <ms>");
    return text;
}

} // namespace

// The README's first session, run as printed: the commands and the output
// shown under each are taken from the README itself. The one change is the
// port: the README names the EtherNet/IP port 44818, which a real service
// or another run of the suite on the same machine may hold, so the session
// runs on a free port put in its place everywhere.
void TstCliProcess::readmeFirstSession()
{
    QFile readme(QUORVEX_SOURCE_DIR "/README.md");
    QVERIFY(readme.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(readme.readAll());
    const int section = text.indexOf("\n## A first session\n");
    QVERIFY2(section >= 0, "the README has no section 'A first session'");
    const int open = text.indexOf("\n```\n", section);
    const int close = text.indexOf("\n```\n", open + 1);
    QVERIFY(open > 0 && close > open);
    QVector<QPair<QString, QStringList>> steps; // command, the output shown
    for (const QString &l : text.mid(open + 5, close - open - 5).split('\n')) {
        if (l.startsWith("$ "))
            steps.append({l.mid(2), {}});
        else if (!steps.isEmpty())
            steps.last().second.append(l);
    }
    QStringList commands;
    for (const auto &step : steps)
        commands << step.first.section(' ', 1, 1);
    QCOMPARE(commands, (QStringList{"sim", "read", "watch", "write"}));

    const QString printed = "127.0.0.1:44818";
    quint16 port = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
    }
    const QString own = QStringLiteral("127.0.0.1:%1").arg(port);
    QProcess sim;
    for (const auto &step : steps) {
        QVERIFY2(step.first.contains(printed), qPrintable(step.first));
        QStringList args = QString(step.first).replace(printed, own).split(' ', Qt::SkipEmptyParts);
        QCOMPARE(args.takeFirst(), QString("build/bin/quorvex"));
        const QString shown = steady(step.second.join('\n').replace(printed, own));
        if (args.last() == "&") { // the simulator, left running
            args.removeLast();
            sim.start(tool(), args);
            QVERIFY(sim.waitForStarted(10000));
            QByteArray line;
            for (int i = 0; i < 100 && !line.contains('\n'); ++i) {
                sim.waitForReadyRead(100);
                line += sim.readAllStandardOutput();
            }
            QCOMPARE(QString::fromUtf8(line).trimmed(), shown);
            continue;
        }
        const Result r = run(args);
        QVERIFY(r.finished);
        QVERIFY2(r.exitCode == 0, qPrintable(step.first + "\n" + r.err));
        QCOMPARE(steady(r.out).trimmed(), shown);
        QCOMPARE(r.err, QString()); // nothing stray
    }
    sim.terminate();
    if (!sim.waitForFinished(5000)) {
        sim.kill();
        sim.waitForFinished(5000);
    }
}

QTEST_GUILESS_MAIN(TstCliProcess)
#include "tst_cliprocess.moc"
