#pragma once

class QWidget;

// Enter as Tab: the entry fields of the main window hand every typed
// character here from their key-press handling.
namespace enterrrr {

// For Enter (character 13) posts a Tab key press to `form`, handled after the
// current key press, and turns the character into 0 so that the field gets
// nothing. Any other character passes unchanged.
void enterAsTab(QWidget *form, int &keyAscii);

} // namespace enterrrr
