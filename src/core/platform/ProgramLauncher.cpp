#include "core/platform/ProgramLauncher.h"

#include <QFileInfo>
#include <QProcess>

namespace ProgramLauncher {

bool startDetached(const QString &program)
{
    if (program.isEmpty() || !QFileInfo(program).isFile())
        return false;
    QProcess process;
    process.setProgram(program);
    process.setWorkingDirectory(QFileInfo(program).absolutePath());
    process.setStandardInputFile(QProcess::nullDevice());
    return process.startDetached();
}

} // namespace ProgramLauncher
