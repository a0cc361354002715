// Batches run from the shell: pagetrim --batch lr|lrn|tb|auto PAGE, with no
// window and no display.
#pragma once

#include <QStringList>

class QCommandLineParser;

namespace pagetrim {

// The options of the command line, window and batches alike, for --help.
void DescribeCommandLine(QCommandLineParser& parser);

// Whether the command line asks for a batch, or for help, rather than the
// window: neither needs a display.
bool NeedsNoWindow(int argc, char** argv);

// Runs the batch the arguments ask for over PAGE's folder, exactly as the
// window's batch does, and returns the exit status: 0 when every page was
// saved, 1 when any page failed, 2 for bad arguments, 130 when interrupted.
int RunShellBatch(const QStringList& arguments);

}  // namespace pagetrim
