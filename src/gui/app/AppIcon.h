#pragma once

#include <QIcon>

namespace AppIcon {

// The program's picture: the vector drawing at every size but 16 px, which
// has a drawing of its own on the pixel grid (the large one's details blur
// into a smudge there). The same files give the installed theme icons.
QIcon icon();

} // namespace AppIcon
