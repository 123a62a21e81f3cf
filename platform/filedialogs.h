#pragma once
#include <QString>
#include <memory>

#include "platform/dialogs.h"

class QFileDialog;
class QWidget;

// The real open-file dialog: the file must exist, the default suffix is added
// to a name typed without one.
std::unique_ptr<QFileDialog> MakeOpenFileDialog(QWidget* parent, const TOpenFileRequest& request);
// The real folder dialog: folders of the file system only, no new folder made
// from it; opens at `initialFolder` when that names an existing folder, else at
// the root of the file system with nothing preselected.
std::unique_ptr<QFileDialog> MakeFolderDialog(QWidget* parent, const QString& title,
                                              const QString& initialFolder);
