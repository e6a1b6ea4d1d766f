#pragma once

namespace tallowmark {

// The interactive program: a GtkApplication whose delegate opens the window.
// "--open PATH" and files handed over by the desktop reach the same open path;
// a second launch passes its file to the running instance where a session bus
// exists. Returns the exit status.
int runApplication(int argc, char** argv);

}  // namespace tallowmark
