// tarnelpro-cli sequence: a quadripole file for a line of electrodes, ordered
// so that each injection measures as many chained dipoles as the channels allow.
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/OptionParser.h"
#include "survey/SequenceGenerator.h"

#include <cstdio>
#include <limits>
#include <optional>
#include <utility>

namespace {

const char SequenceUsage[] =
    "usage: tarnelpro-cli sequence --electrodes N\n"
    "           --array dd|wenner|schlumberger|gradient|pole-dipole|pole-pole\n"
    "           [--spacing-max K] [--n-max N] [--dipole-max D] [--reciprocals] [--channels C] > FILE.txt\n"
    "  N: electrodes 1 to N of the line (4 to 2001); node 0, the remote electrode, is B (and N for\n"
    "     pole-pole) of the pole arrays\n"
    "  K: the largest dipole (dd, gradient, pole-dipole; default 1), Wenner a, Schlumberger n or\n"
    "     pole-pole A-M distance (default all that fit), in electrode intervals\n"
    "  --n-max: the largest n of dd and pole-dipole (default C); --dipole-max: the largest M-N of\n"
    "     schlumberger (default 1)\n"
    "  C: receiving channels, 1 to 10 (default 10); a survey beyond 15998 quadripoles is refused\n";

// The ranges are the generator's to check, with their own reasons.
bool ReadInt(TOptionParser &options, const char *name, std::optional<int> &to)
{
    if (!options.Has(name))
        return true;
    int value = 0;
    if (!options.Int(name, value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), "a whole number"))
        return false;
    to = value;
    return true;
}

} // namespace

int RunSequenceCommand(const QStringList &args)
{
    TOptionParser options("sequence", SequenceUsage);
    if (!options.Parse(args, {"--electrodes", "--array", "--spacing-max", "--n-max", "--dipole-max", "--channels"},
                       {"--reciprocals"}))
        return 2;
    TSequenceRequest request;
    request.Reciprocals = options.Has("--reciprocals");
    if (!options.Has("--electrodes"))
        return options.UsageError("--electrodes is required");
    if (!options.Has("--array"))
        return options.UsageError("--array is required");
    const std::optional<TArrayKind> array = TSequenceGenerator::ArrayNamed(options.Value("--array"));
    if (!array)
        return options.UsageError("unknown array", options.Value("--array"));
    request.Array = *array;
    std::optional<int> electrodes, channels;
    const std::pair<const char *, std::optional<int> *> numbers[] = {{"--electrodes", &electrodes},
                                                                     {"--channels", &channels},
                                                                     {"--spacing-max", &request.SpacingMax},
                                                                     {"--n-max", &request.NMax},
                                                                     {"--dipole-max", &request.DipoleMax}};
    for (const auto &[name, to] : numbers)
        if (!ReadInt(options, name, *to))
            return 2;
    request.Electrodes = *electrodes;
    request.Channels = channels.value_or(TSequence::MaxChannels);

    const TSequenceGenerator generator(request);
    const QString refused = generator.CheckRequest();
    if (!refused.isEmpty())
        return options.UsageError(qPrintable(refused));
    const TSequencePlan plan = generator.Generate();
    if (!plan.Error.isEmpty()) {
        PrintError(QStringLiteral("tarnelpro-cli sequence: ") + plan.Error);
        return 1;
    }
    const QByteArray text = TSequenceGenerator::FileText(plan.Quads);
    if (std::fwrite(text.constData(), 1, std::size_t(text.size()), stdout) != std::size_t(text.size()) ||
        std::fflush(stdout) != 0) {
        PrintError(QStringLiteral("tarnelpro-cli sequence: cannot write the quadripole file"));
        return 1;
    }
    QString report = QStringLiteral("%1 quadripoles in %2 groups of at most %3 channels")
                         .arg(plan.Total.Quads)
                         .arg(plan.Total.Groups)
                         .arg(request.Channels);
    if (request.Reciprocals)
        report += QStringLiteral(": forward %1 in %2 groups, reciprocals %3 in %4 groups")
                      .arg(plan.Forward.Quads)
                      .arg(plan.Forward.Groups)
                      .arg(plan.Reciprocal.Quads)
                      .arg(plan.Reciprocal.Groups);
    PrintError(report);
    return 0;
}
