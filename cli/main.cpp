// plvctl: the unit from a shell, for scripts, test stations and remote shells.
#include "cli/client.h"
#include "cli/gateway.h"
#include "cli/options.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <cerrno>
#include <cstring>
#include <iostream>

int main(int argc, char *argv[])
{
    // A closed pipe on standard output is an error the write reports (exit 7), not a
    // silent death by signal.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("plvctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PLV_VERSION));

    using namespace plv::cli;
    if (QCoreApplication::arguments().value(1) == QLatin1String("gateway"))
        return Gateway().run(QCoreApplication::arguments().mid(2));
    const Parsed p = parseArguments(QCoreApplication::arguments().mid(1));
    if (!p.error.isEmpty()) {
        const QString link = p.options.linkName();
        std::cerr << "plvctl: " << qPrintable(link.isEmpty() ? p.error : link + QStringLiteral(": ") + p.error)
                  << "\nTry 'plvctl --help'." << std::endl;
        return Usage;
    }
    if (p.options.help || p.options.version) {
        const QByteArray text = p.options.help ? helpText().toUtf8() : QByteArray("plvctl " PLV_VERSION "\n");
        if (std::fputs(text.constData(), stdout) < 0 || std::fflush(stdout) != 0) {
            std::cerr << "plvctl: cannot write to standard output: " << std::strerror(errno) << std::endl;
            return WriteFailed;
        }
        return Done;
    }
    Client client(p.options);
    return client.run();
}
