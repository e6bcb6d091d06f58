// What the administration dialogs share: their message boxes, the wait
// cursor and the folder browser.
#pragma once

#include "admin/setting_store.h"

#include <QString>

class QWidget;

namespace velto {

// A modal message box over `owner` with an OK button.
void ShowDialogMessage(QWidget* owner, const DialogMessage& message);

// The wait cursor on (true) or off, while work on many accounts runs.
void SetWaitCursor(bool on);

// The folder browser: the chosen folder's path, or "" when the
// administrator cancelled it. It starts at `startFolder` when that exists.
QString BrowseDialog(QWidget* owner, const QString& title, const QString& startFolder = {});

}  // namespace velto
