// plvctl: the unit from a shell, for scripts, test stations and remote shells.
#include "cli/client.h"
#include "cli/options.h"

#include <QCoreApplication>

#include <cstdio>
#include <iostream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("plvctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PLV_VERSION));

    using namespace plv::cli;
    const Parsed p = parseArguments(QCoreApplication::arguments().mid(1));
    if (!p.error.isEmpty()) {
        const QString link = p.options.linkName();
        std::cerr << "plvctl: " << qPrintable(link.isEmpty() ? p.error : link + QStringLiteral(": ") + p.error)
                  << "\nTry 'plvctl --help'." << std::endl;
        return Usage;
    }
    if (p.options.help) {
        std::fputs(helpText().toUtf8().constData(), stdout);
        return Done;
    }
    if (p.options.version) {
        std::printf("plvctl %s\n", PLV_VERSION);
        return Done;
    }
    Client client(p.options);
    return client.run();
}
