// The built library as a client sees it: loaded by name, object created by identity.
#include "tessel.h"

#include <QtTest>

#include <dlfcn.h>

class TstTesselLibrary : public QObject {
    Q_OBJECT

    void *lib = nullptr;
    TesselGetClassObjectFn getClassObject = nullptr;
    TesselResult (*canUnloadNow)() = nullptr;

    Tessel *create()
    {
        void *object = nullptr;
        const TesselResult r = getClassObject(TESSEL_CLSID, TESSEL_IID, &object);
        if (r != TESSEL_S_OK)
            qWarning("DllGetClassObject returned %d", int(r));
        return static_cast<Tessel *>(object);
    }

private slots:
    void initTestCase()
    {
        QByteArray dir = qgetenv("TESSEL_LIBRARY_DIR");
        if (dir.isEmpty())
            dir = TESSEL_BUILD_DIR;
        const QByteArray path = dir + "/" TESSEL_LIBRARY_NAME;
        lib = dlopen(path.constData(), RTLD_NOW | RTLD_LOCAL);
        QVERIFY2(lib, dlerror());
        getClassObject = reinterpret_cast<TesselGetClassObjectFn>(dlsym(lib, "DllGetClassObject"));
        canUnloadNow = reinterpret_cast<TesselResult (*)()>(dlsym(lib, "DllCanUnloadNow"));
        QVERIFY(getClassObject && canUnloadNow);
    }

    void cleanupTestCase()
    {
        if (lib)
            QCOMPARE(dlclose(lib), 0);
    }

    void onlyTheCExportsAreVisible_data()
    {
        QTest::addColumn<QByteArray>("symbol");
        QTest::addColumn<bool>("exported");
        for (const char *name : {"DllGetClassObject", "DllCanUnloadNow", "DllRegisterServer", "DllUnregisterServer"})
            QTest::newRow(name) << QByteArray(name) << true;
        QTest::newRow("core class") << QByteArray("_ZN6tessel12TesselObject10findTheHidEv") << false;
        QTest::newRow("descriptor parser")
            << QByteArray("_ZN6tessel21parseReportDescriptorEPKhm") << false;
    }

    void onlyTheCExportsAreVisible()
    {
        QFETCH(QByteArray, symbol);
        QFETCH(bool, exported);
        QCOMPARE(dlsym(lib, symbol.constData()) != nullptr, exported);
    }

    void registrationIsANoOp()
    {
        using Fn = TesselResult (*)();
        auto reg = reinterpret_cast<Fn>(dlsym(lib, "DllRegisterServer"));
        auto unreg = reinterpret_cast<Fn>(dlsym(lib, "DllUnregisterServer"));
        QVERIFY(reg && unreg);
        QCOMPARE(reg(), TESSEL_S_OK);
        QCOMPARE(unreg(), TESSEL_S_OK);
    }

    void identities_data()
    {
        QTest::addColumn<QByteArray>("clsid");
        QTest::addColumn<QByteArray>("iid");
        QTest::addColumn<int>("expected");

        QTest::newRow("as published") << QByteArray(TESSEL_CLSID) << QByteArray(TESSEL_IID) << TESSEL_S_OK;
        QTest::newRow("lower case") << QByteArray(TESSEL_CLSID).toLower() << QByteArray(TESSEL_IID).toLower()
                                    << TESSEL_S_OK;
        QTest::newRow("type library is no class") << QByteArray(TESSEL_TYPELIB_ID) << QByteArray(TESSEL_IID)
                                                  << TESSEL_E_NOINTERFACE;
        QTest::newRow("class as interface") << QByteArray(TESSEL_CLSID) << QByteArray(TESSEL_CLSID)
                                            << TESSEL_E_NOINTERFACE;
        QTest::newRow("without braces") << QByteArray(TESSEL_CLSID).mid(1, 36) << QByteArray(TESSEL_IID)
                                        << TESSEL_E_NOINTERFACE;
        QTest::newRow("trailing character") << QByteArray(TESSEL_CLSID "x") << QByteArray(TESSEL_IID)
                                            << TESSEL_E_NOINTERFACE;
        QTest::newRow("empty") << QByteArray("") << QByteArray("") << TESSEL_E_NOINTERFACE;
    }

    void identities()
    {
        QFETCH(QByteArray, clsid);
        QFETCH(QByteArray, iid);
        QFETCH(int, expected);
        void *object = reinterpret_cast<void *>(0x1); // must be overwritten either way
        QCOMPARE(getClassObject(clsid.constData(), iid.constData(), &object), expected);
        QCOMPARE(object != nullptr, expected == TESSEL_S_OK);
        if (object)
            QCOMPARE(static_cast<Tessel *>(object)->vtbl->Release(static_cast<Tessel *>(object)), 0u);
    }

    void nullArguments()
    {
        void *object = reinterpret_cast<void *>(0x1);
        QCOMPARE(getClassObject(nullptr, TESSEL_IID, &object), TESSEL_E_POINTER);
        QVERIFY(!object);
        QCOMPARE(getClassObject(TESSEL_CLSID, TESSEL_IID, nullptr), TESSEL_E_POINTER);

        Tessel *t = create();
        QVERIFY(t);
        char out[8];
        int32_t len = 0;
        QCOMPARE(t->vtbl->FindTheHid(t, nullptr), TESSEL_E_POINTER);
        QCOMPARE(t->vtbl->ReverseString(t, nullptr, 3, out, sizeof out, &len), TESSEL_E_POINTER);
        QCOMPARE(t->vtbl->ReverseString(t, "abc", 3, nullptr, 8, &len), TESSEL_E_POINTER);
        QCOMPARE(t->vtbl->ReadReport(t, out, sizeof out, nullptr), TESSEL_E_POINTER);
        QCOMPARE(t->vtbl->WriteReport(t, nullptr, 2), TESSEL_E_POINTER);
        QCOMPARE(t->vtbl->FindTheHid(nullptr, nullptr), TESSEL_E_POINTER);
        t->vtbl->Release(t);
    }

    void lifetime()
    {
        QCOMPARE(canUnloadNow(), TESSEL_S_OK);
        Tessel *t = create();
        QVERIFY(t);
        QCOMPARE(canUnloadNow(), TESSEL_S_FALSE);
        QCOMPARE(t->vtbl->AddRef(t), 2u);
        QCOMPARE(t->vtbl->Release(t), 1u);
        QCOMPARE(canUnloadNow(), TESSEL_S_FALSE);
        QCOMPARE(t->vtbl->Release(t), 0u);
        QCOMPARE(canUnloadNow(), TESSEL_S_OK);
    }

    void reverseString_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("outSize");
        QTest::addColumn<int>("result");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("word") << QByteArray("abc") << 4 << TESSEL_S_OK << QByteArray("cba");
        QTest::newRow("empty") << QByteArray() << 1 << TESSEL_S_OK << QByteArray();
        QTest::newRow("no room for the NUL") << QByteArray("abc") << 3 << TESSEL_E_BUFFER << QByteArray();
        QTest::newRow("no room at all") << QByteArray("abc") << 0 << TESSEL_E_BUFFER << QByteArray();
    }

    void reverseString()
    {
        QFETCH(QByteArray, input);
        QFETCH(int, outSize);
        QFETCH(int, result);
        QFETCH(QByteArray, expected);
        Tessel *t = create();
        QVERIFY(t);
        const QByteArray before = input;
        char out[16];
        memset(out, '#', sizeof out);
        int32_t len = -1;
        QCOMPARE(t->vtbl->ReverseString(t, input.constData(), int32_t(input.size()), out, outSize, &len), result);
        QCOMPARE(len, int32_t(input.size())); // also tells the size needed
        if (result == TESSEL_S_OK)
            QCOMPARE(QByteArray(out), expected);
        else
            QCOMPARE(out[0], '#'); // nothing written into a short buffer
        QCOMPARE(input, before);
        t->vtbl->Release(t);
    }

    void searchWithoutUnitFailsCleanly()
    {
        Tessel *t = create();
        QVERIFY(t);
        char out[80];
        int32_t len = 0;
        QCOMPARE(t->vtbl->WriteReport(t, "\x02" "23,o\x03", 6), TESSEL_E_NOTREADY);
        QCOMPARE(t->vtbl->ReadReport(t, out, sizeof out, &len), TESSEL_E_NOTREADY);

        int16_t found = 1;
        QCOMPARE(t->vtbl->FindTheHid(t, &found), TESSEL_S_OK);
        QVERIFY(found == 0 || found == -1);
        const TesselResult written = t->vtbl->WriteReport(t, "\x02" "23,o\x03", 6);
        QCOMPARE(t->vtbl->Release(t), 0u);
        if (found == -1)
            QSKIP("a unit is attached to this machine");
        QCOMPARE(written, TESSEL_E_NOTREADY);
    }
};

QTEST_GUILESS_MAIN(TstTesselLibrary)
#include "tst_tessel_library.moc"
