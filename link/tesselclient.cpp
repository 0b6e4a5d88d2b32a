#include "link/tesselclient.h"

#include "tessel/tessel.h"

#include <QByteArray>
#include <dlfcn.h>

namespace plv {
namespace {

class LoadedTessel : public TesselClient {
public:
    explicit LoadedTessel(Tessel *obj) : m_obj(obj) {}
    ~LoadedTessel() override { m_obj->vtbl->Release(m_obj); }

    bool findTheHid() override
    {
        int16_t found = 0;
        return m_obj->vtbl->FindTheHid(m_obj, &found) == TESSEL_S_OK && found != 0;
    }
    bool writeReport(const QByteArray &frame) override
    {
        return m_obj->vtbl->WriteReport(m_obj, frame.constData(), int32_t(frame.size())) == TESSEL_S_OK;
    }
    QByteArray readReport() override
    {
        char buf[128];
        int32_t n = 0;
        if (m_obj->vtbl->ReadReport(m_obj, buf, int32_t(sizeof buf), &n) != TESSEL_S_OK || n <= 0)
            return {};
        return QByteArray(buf, n);
    }

private:
    Tessel *m_obj;
};

} // namespace

std::unique_ptr<TesselClient> loadTessel(QString *error)
{
    // Found through the programs' run path in the build tree, the system's library
    // path when installed.
    void *lib = dlopen(TESSEL_LIBRARY_NAME, RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        if (error)
            *error = QString::fromLocal8Bit(dlerror());
        return nullptr;
    }
    auto create = reinterpret_cast<TesselGetClassObjectFn>(dlsym(lib, "DllGetClassObject"));
    void *obj = nullptr;
    if (!create || create(TESSEL_CLSID, TESSEL_IID, &obj) != TESSEL_S_OK || !obj) {
        if (error)
            *error = QStringLiteral("the library does not serve the class Tessel");
        return nullptr;   // the library stays loaded; unloading buys nothing here
    }
    return std::make_unique<LoadedTessel>(static_cast<Tessel *>(obj));
}

} // namespace plv
