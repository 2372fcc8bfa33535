#pragma once

#include <QString>

namespace ProgramLauncher {

// Starts `program` without waiting for it and without arguments. False when it
// could not be started.
bool startDetached(const QString &program);

} // namespace ProgramLauncher
