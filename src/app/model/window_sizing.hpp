#pragma once

// How the main window grows when the page asks for room, kept apart from GTK
// so it can be tested headless.

#include <cstdint>
#include <optional>

namespace tallowmark {

struct WindowFrame {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    bool operator==(const WindowFrame&) const = default;
};

struct WindowWidening {
    std::optional<WindowFrame> frame;  // to set, when the window changes
    bool wideEnough = false;           // whether the window is then `width` wide
};

// Widening `current` to `width` points: never narrower, never in full screen,
// never wider than `screen` (the visible frame of the window's screen; none
// when there is no screen at all). The window keeps its origin and height
// unless its right edge would leave the screen: then it moves left, but not
// past the screen's left edge.
WindowWidening widenWindow(const WindowFrame& current, bool fullScreen, const std::optional<WindowFrame>& screen,
                           std::int64_t width);

}  // namespace tallowmark
