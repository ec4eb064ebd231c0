#include "cli/Commands.h"

#include <cstdio>

int RunSurveyCommand(const QStringList &)
{
    std::fputs("tarnelpro-cli survey: not available yet\n", stderr);
    return 1;
}
