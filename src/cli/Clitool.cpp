// tarnelpro-cli: the headless front end on the same core as the window.
#include "cli/Commands.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>
#include <functional>
#include <map>

namespace {
void Usage()
{
    std::fputs("usage: tarnelpro-cli <command> [options]\n"
               "commands:\n"
               "  survey --quadripoles Q.txt [--coordinates C.txt] [--groups N]\n"
               "         load a survey and print its quadripole table or its groups\n",
               stderr);
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("TarnelPro2"));
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    if (args.isEmpty() || args.first() == "--help" || args.first() == "-h") {
        Usage();
        return args.isEmpty() ? 2 : 0;
    }
    const std::map<QString, std::function<int(const QStringList &)>> commands = {
        {QStringLiteral("survey"), RunSurveyCommand},
    };
    const QString name = args.takeFirst();
    const auto it = commands.find(name);
    if (it == commands.end()) {
        std::fprintf(stderr, "tarnelpro-cli: unknown command '%s'\n", qPrintable(name));
        Usage();
        return 2;
    }
    return it->second(args);
}
