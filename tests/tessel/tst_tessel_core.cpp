// TesselObject against the scripted platform: search, frames out, reports in, recovery.
#include "fakehidplatform.h"
#include "tessel_core.h"

#include <QtTest>

using tessel::HidHandle;
using tessel::TesselObject;

namespace {

QByteArray bytes(std::initializer_list<int> list)
{
    QByteArray b;
    for (int v : list)
        b.append(char(v));
    return b;
}

FakeDevice unit(const std::string &path, std::uint16_t in = 65, std::uint16_t out = 65)
{
    return FakeDevice{path, TESSEL_VENDOR_ID, TESSEL_PRODUCT_ID, in, out, true};
}

} // namespace

class TstTesselCore : public QObject {
    Q_OBJECT

    std::unique_ptr<FakeHidPlatform> fake;
    std::unique_ptr<TesselObject> core;

    std::string readText()
    {
        std::string text;
        const TesselResult r = core->readReport(text);
        if (r != TESSEL_S_OK)
            qWarning("readReport returned %d", int(r));
        return text;
    }

private slots:
    void init()
    {
        fake = std::make_unique<FakeHidPlatform>();
        core = std::make_unique<TesselObject>(*fake);
    }

    void cleanup()
    {
        core.reset(); // its handles are closed here, and must be closed only once
        QVERIFY2(fake->faults.isEmpty(), qPrintable(fake->faults.join("; ")));
        for (const auto &[handle, count] : fake->closes)
            QCOMPARE(count, 1);
        QCOMPARE(fake->liveEnumerations, 0);
        QVERIFY(fake->open_.empty()); // nothing leaked past the object
    }

    void search_data()
    {
        QTest::addColumn<QList<int>>("products"); // one device per entry, 0x1200:product
        QTest::addColumn<QList<int>>("vendors");
        QTest::addColumn<int>("expectedIndex"); // -1: none found
        QTest::addColumn<int>("expectedOpens");

        QTest::newRow("no device") << QList<int>{} << QList<int>{} << -1 << 0;
        QTest::newRow("only foreign devices") << QList<int>{1, 0x20} << QList<int>{0x046d, 0x1201} << -1 << 2;
        QTest::newRow("right vendor, wrong product") << QList<int>{2} << QList<int>{0x1200} << -1 << 1;
        QTest::newRow("wrong product skipped for the next")
            << QList<int>{2, 1} << QList<int>{0x1200, 0x1200} << 1 << 3;
        QTest::newRow("two units: first in enumeration order")
            << QList<int>{1, 1} << QList<int>{0x1200, 0x1200} << 0 << 2;
        QTest::newRow("unit behind a foreign device") << QList<int>{1, 1} << QList<int>{0x0403, 0x1200} << 1 << 3;
    }

    void search()
    {
        QFETCH(QList<int>, products);
        QFETCH(QList<int>, vendors);
        QFETCH(int, expectedIndex);
        QFETCH(int, expectedOpens);
        // Paths deliberately out of name order: enumeration order alone decides.
        for (int i = 0; i < products.size(); ++i)
            fake->devices.push_back(FakeDevice{"/dev/hidraw" + std::to_string(9 - i), std::uint16_t(vendors[i]),
                                               std::uint16_t(products[i]), 65, 65, true});

        const bool found = core->findTheHid();

        QCOMPARE(found, expectedIndex >= 0);
        QCOMPARE(core->deviceDetected(), found);
        QVERIFY(core->enumerationDone() != found);
        QCOMPARE(fake->enumerations, 1);
        QCOMPARE(fake->liveEnumerations, 0);
        QCOMPARE(int(fake->opened.size()), expectedOpens);
        if (found) {
            const std::string path = fake->devices[std::size_t(expectedIndex)].path;
            QCOMPARE(core->devicePath(), path);
            QCOMPARE(fake->opened.back(), path); // the read handle, on the same interface
            QCOMPARE(fake->opened[fake->opened.size() - 2], path);
            QCOMPARE(int(fake->open_.size()), 2);
            QVERIFY(core->hidHandle() != HidHandle::None && core->readHandle() != HidHandle::None);
            QVERIFY(core->hidHandle() != core->readHandle());
            QCOMPARE(core->outputReportByteLength(), std::uint16_t(65));
        } else {
            QVERIFY(fake->open_.empty()); // every device examined was closed again
            QCOMPARE(core->hidHandle(), HidHandle::None);
        }
    }

    void repeatedSearchKeepsOnlyTheNewestHandles()
    {
        fake->devices.push_back(unit("/dev/hidraw0"));
        QVERIFY(core->findTheHid());
        QVERIFY(core->findTheHid());

        QCOMPARE(int(fake->open_.size()), 2);
        QVERIFY(fake->open_.count(core->hidHandle()) && fake->open_.count(core->readHandle()));
    }

    void failsCleanlyBeforeSearch()
    {
        fake->devices.push_back(unit("/dev/hidraw0"));
        std::string text = "stale";
        QCOMPARE(core->writeReport("\x02" "23,o\x03"), TESSEL_E_NOTREADY);
        QCOMPARE(core->readReport(text), TESSEL_E_NOTREADY);
        QVERIFY(text.empty());
        QCOMPARE(fake->ioCalls(), 0);
        QVERIFY(fake->opened.empty());
    }

    void failsCleanlyWhenNoUnitFound()
    {
        fake->devices.push_back(FakeDevice{"/dev/hidraw0", 0x1200, 0x0002, 65, 65, true});
        QVERIFY(!core->findTheHid());
        std::string text;
        QCOMPARE(core->writeReport("x"), TESSEL_E_NOTREADY);
        QCOMPARE(core->readReport(text), TESSEL_E_NOTREADY);
        QCOMPARE(fake->ioCalls(), 0);
    }

    void write_data()
    {
        QTest::addColumn<int>("outputLen");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QByteArray>("report");

        QTest::newRow("frame with checksum and ETX")
            << 9 << bytes({0x02, '2', '3', ',', 0x6F, 0x03}) << bytes({0, 0x02, 0x32, 0x33, 0x2C, 0x6F, 0x03, 0, 0});
        QTest::newRow("only the first N-1 characters travel")
            << 5 << QByteArray("\x02" "ABCDEF") << bytes({0, 0x02, 'A', 'B', 'C'});
        QTest::newRow("empty frame") << 4 << QByteArray() << bytes({0, 0, 0, 0});
        QTest::newRow("65 characters fill a 66-byte report")
            << 66 << QByteArray(65, 'z') << QByteArray(1, '\0') + QByteArray(65, 'z');
        QTest::newRow("65 characters into 65 bytes") << 65 << QByteArray(65, 'q') << QByteArray(1, '\0') + QByteArray(64, 'q');
    }

    void write()
    {
        QFETCH(int, outputLen);
        QFETCH(QByteArray, frame);
        QFETCH(QByteArray, report);
        fake->devices.push_back(unit("/dev/hidraw0", 65, std::uint16_t(outputLen)));
        QVERIFY(core->findTheHid());

        QCOMPARE(core->writeReport(frame.toStdString()), TESSEL_S_OK);
        QCOMPARE(int(fake->written.size()), 1);
        QCOMPARE(fake->written[0], report);
    }

    void shorterFrameAfterLongerCarriesZeros()
    {
        fake->devices.push_back(unit("/dev/hidraw0", 9, 9));
        QVERIFY(core->findTheHid());
        QCOMPARE(core->writeReport("\x02" "ABCDEFGH"), TESSEL_S_OK);
        QCOMPARE(core->writeReport("\x02" "X\x03"), TESSEL_S_OK);
        QCOMPARE(int(fake->written.size()), 2);
        QCOMPARE(fake->written[0], bytes({0, 0x02, 'A', 'B', 'C', 'D', 'E', 'F', 'G'}));
        QCOMPARE(fake->written[1], bytes({0, 0x02, 'X', 0x03, 0, 0, 0, 0, 0}));
    }

    void writeRange_data()
    {
        QTest::addColumn<int>("outputLen");
        QTest::addColumn<int>("frameLen");
        QTest::addColumn<int>("expected");

        QTest::newRow("frame of 66 characters") << 65 << 66 << TESSEL_E_RANGE;
        QTest::newRow("output report of 67 bytes") << 67 << 10 << TESSEL_E_RANGE;
        QTest::newRow("largest frame and report") << 66 << 65 << TESSEL_S_OK;
    }

    void writeRange()
    {
        QFETCH(int, outputLen);
        QFETCH(int, frameLen);
        QFETCH(int, expected);
        fake->devices.push_back(unit("/dev/hidraw0", 65, std::uint16_t(outputLen)));
        QVERIFY(core->findTheHid());

        QCOMPARE(core->writeReport(std::string(std::size_t(frameLen), 'a')), expected);
        QCOMPARE(int(fake->written.size()), expected == TESSEL_S_OK ? 1 : 0);
    }

    void read_data()
    {
        QTest::addColumn<int>("inputLen");
        QTest::addColumn<QByteArray>("report");
        QTest::addColumn<QByteArray>("text");

        QTest::newRow("STX to ETX, padding dropped")
            << 9 << bytes({0, 0x02, 0x32, 0x33, 0x2C, 0x6F, 0x03, 0, 0}) << QByteArray("\x02" "23,o\x03");
        QTest::newRow("zero bytes inside vanish")
            << 9 << bytes({0, 0x02, '1', 0, 0, '2', 0, 0x03, 0}) << QByteArray("\x02" "12\x03");
        QTest::newRow("report ID is not data") << 4 << bytes({0x41, 'B', 'C', 0}) << QByteArray("BC");
        QTest::newRow("all zeros") << 65 << QByteArray(65, '\0') << QByteArray();
        QTest::newRow("high bytes kept") << 4 << bytes({0, 0xFF, 0x80, 0x7F}) << bytes({0xFF, 0x80, 0x7F});
        QTest::newRow("longer than the input length: cut to it")
            << 3 << bytes({0, 'a', 'b', 'c', 'd'}) << QByteArray("ab");
    }

    void read()
    {
        QFETCH(int, inputLen);
        QFETCH(QByteArray, report);
        QFETCH(QByteArray, text);
        fake->devices.push_back(unit("/dev/hidraw0", std::uint16_t(inputLen), 65));
        QVERIFY(core->findTheHid());
        fake->reads.push_back(FakeRead{0, report, false});

        QCOMPARE(QByteArray::fromStdString(readText()), text);
        QCOMPARE(fake->readCalls, 1);
        QVERIFY(core->deviceDetected());
        QCOMPARE(fake->enumerations, 1); // data never triggers a search
    }

    void timeoutWithUnitStillThereReopens_data()
    {
        QTest::addColumn<int>("result");
        QTest::newRow("time-out") << tessel::kReadTimedOut;
        QTest::newRow("device gone") << tessel::kReadDeviceGone;
    }

    void timeoutWithUnitStillThereReopens()
    {
        QFETCH(int, result);
        fake->devices.push_back(unit("/dev/hidraw0"));
        QVERIFY(core->findTheHid());
        const HidHandle oldHid = core->hidHandle(), oldRead = core->readHandle();
        fake->reads.push_back(FakeRead{result, {}, false});

        QVERIFY(readText().empty());
        QCOMPARE(fake->cancels, 1);
        QCOMPARE(fake->closes[oldHid], 1);
        QCOMPARE(fake->closes[oldRead], 1);
        QCOMPARE(fake->enumerations, 2);
        QVERIFY(core->deviceDetected());
        QCOMPARE(int(fake->open_.size()), 2);
        QVERIFY(!fake->open_.count(oldHid) && !fake->open_.count(oldRead));
    }

    void unplugAndPlugBack()
    {
        fake->devices.push_back(unit("/dev/hidraw0"));
        QVERIFY(core->findTheHid());
        const HidHandle firstHid = core->hidHandle(), firstRead = core->readHandle();

        fake->reads.push_back(FakeRead{tessel::kReadTimedOut, {}, true});
        QVERIFY(readText().empty());
        QVERIFY(!core->deviceDetected());
        QCOMPARE(core->hidHandle(), HidHandle::None);
        QCOMPARE(core->readHandle(), HidHandle::None);
        QVERIFY(fake->open_.empty());

        // Still away: each read searches again, touching no handle twice.
        QVERIFY(readText().empty());
        QVERIFY(!core->deviceDetected());
        QCOMPARE(core->writeReport("\x02" "x\x03"), TESSEL_S_OK);
        QVERIFY(fake->written.empty());

        fake->devices[0].present = true;
        fake->reads.push_back(FakeRead{0, bytes({0, 0x02, 'o', 'k', 0x03}), false});
        QVERIFY(readText().empty()); // this read finds the unit again
        QVERIFY(core->deviceDetected());
        QCOMPARE(readText(), std::string("\x02" "ok\x03"));
        QCOMPARE(fake->closes[firstHid], 1);
        QCOMPARE(fake->closes[firstRead], 1);
        QCOMPARE(fake->enumerations, 4);
        QCOMPARE(core->writeReport("\x02" "y\x03"), TESSEL_S_OK);
        QCOMPARE(int(fake->written.size()), 1);
    }

    void goneUnitCostsOneWaitAndOneSearchPerRead_data()
    {
        QTest::addColumn<int>("result"); // how the read that sees the unit go ends
        QTest::newRow("time-out") << tessel::kReadTimedOut;
        QTest::newRow("device gone at once") << tessel::kReadDeviceGone;
    }

    // The console polls every 90 ms: a read that returned without its wait would turn
    // that into back-to-back searches of the whole bus.
    void goneUnitCostsOneWaitAndOneSearchPerRead()
    {
        QFETCH(int, result);
        fake->devices.push_back(unit("/dev/hidraw0"));
        QVERIFY(core->findTheHid());
        fake->reads.push_back(FakeRead{result, {}, true});

        for (int i = 0; i < 3; ++i) {
            const int clockBefore = fake->clockMs, searchesBefore = fake->enumerations;
            QVERIFY(readText().empty());
            QCOMPARE(fake->clockMs - clockBefore, tessel::kReadTimeoutMs);
            QCOMPARE(fake->enumerations - searchesBefore, 1);
            QVERIFY(!core->deviceDetected());
        }
    }

    void otherReadFailureCancelsWithoutSearch()
    {
        fake->devices.push_back(unit("/dev/hidraw0"));
        QVERIFY(core->findTheHid());
        fake->reads.push_back(FakeRead{tessel::kReadFailed, {}, false});

        QVERIFY(readText().empty());
        QCOMPARE(fake->cancels, 1);
        QVERIFY(!core->deviceDetected());
        QCOMPARE(fake->enumerations, 1);
        QVERIFY(fake->closes.empty());
    }

    void reverseString_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("empty") << QByteArray() << QByteArray();
        QTest::newRow("one") << QByteArray("a") << QByteArray("a");
        QTest::newRow("word") << QByteArray("Tessel") << QByteArray("lesseT");
        QTest::newRow("frame") << QByteArray("\x02" "23,o\x03") << QByteArray("\x03" "o,32\x02");
        QTest::newRow("embedded zero") << bytes({'a', 0, 'b'}) << bytes({'b', 0, 'a'});
    }

    void reverseString()
    {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, expected);
        const QByteArray before = input;
        QCOMPARE(QByteArray::fromStdString(TesselObject::reverseString(input.toStdString())), expected);
        QCOMPARE(input, before);
    }
};

QTEST_GUILESS_MAIN(TstTesselCore)
#include "tst_tessel_core.moc"
