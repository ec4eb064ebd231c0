#pragma once
// Sub-commands of tarnelpro-cli. Each takes the arguments after its name and
// returns the process exit status (0 success, 1 error, 2 usage error).
#include <QStringList>

int RunSurveyCommand(const QStringList &args);
int RunSectionCommand(const QStringList &args);
int RunIdentifyCommand(const QStringList &args);
int RunAcquireCommand(const QStringList &args);
int RunCheckResistanceCommand(const QStringList &args);
// script FILE.scp: run, --list or --plan (exit 4 after a health alarm ended the last acquisition).
int RunScriptCommand(const QStringList &args);
int RunConfigCommand(const QStringList &args);
int RunExportCommand(const QStringList &args);
// qc FILE.bin [--config FILE.ini]: flag counts, reciprocal errors, error model, worst electrodes.
int RunQcCommand(const QStringList &args);
// sequence --electrodes N --array ...: a quadripole file on stdout, the group count on stderr.
int RunSequenceCommand(const QStringList &args);
// fleet --mqtt URL/PREFIX [--once]: the stations reporting under PREFIX.
int RunFleetCommand(const QStringList &args);
// timelapse BASE.bin FILE.bin... [--alarms]: change against a baseline (exit 5 after an alarm).
int RunTimelapseCommand(const QStringList &args);
