#pragma once

// The small decisions of starting the application, kept apart from GTK so
// they can be tested headless: which of the handed-over files is opened, what
// "--open" names, the window minimum and the scripts put into the page.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallowmark {

// The first path whose extension is "pdf" in any case; none without one.
std::optional<std::string> firstPdfPath(const std::vector<std::string>& paths);

// The operand after the first "--open", with a leading "~" expanded; none when
// "--open" is missing or is the last argument. `arguments` excludes the program.
std::optional<std::string> openArgument(const std::vector<std::string>& arguments);

// The files handed to the application's open path: the "--open" operand first,
// then plain operands (a file manager starts the program as "tallowmark FILE").
// Other switches are left out.
std::vector<std::string> applicationFiles(const std::vector<std::string>& arguments);

struct WindowSize {
    int width = 0;
    int height = 0;
};

inline constexpr WindowSize mainWindowSize{1280, 860};
inline constexpr WindowSize monitorWindowSize{480, 700};
inline constexpr WindowSize monitorWindowMinimum{320, 420};
// Maximised text needs only a narrow column; the full view needs the sidebar too.
WindowSize mainWindowMinimum(bool maxText);

// Run at document start so the page lays out clear of the title bar from its
// first frame; none when nothing needs reserving.
std::optional<std::string> reserveUserScript(double reserve);

inline constexpr std::string_view confidenceModeScript = "window.__confidenceMode = true;";

// With TALLOWMARK_TRACE=1 the page logs each run change it paints, for the
// technician and the application benchmark; nothing otherwise.
std::optional<std::string> traceUserScript(const char* traceVariable);

// Commits a field being edited (its blur handler saves through the bridge)
// before the process ends.
inline constexpr std::string_view blurScript =
    "(function(){var a=document.activeElement; if (a && a!==document.body && a.blur) a.blur(); return true;})()";

}  // namespace tallowmark
