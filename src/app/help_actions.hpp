#pragma once

// The Help menu and About: the user guide installed with the program (no
// network), a mail to the support address, and the About dialog.

#include <gtk/gtk.h>

#include <string>

namespace tallowmark {

void showAbout(GtkWindow* parent, const std::string& stamp);
// Opens help/index.html from the program's resources in the default browser.
void openHelp(GtkWindow* parent);
// mailto: the configured support address, subject "TALLOWMARK".
void reportIssue(GtkWindow* parent);

}  // namespace tallowmark
