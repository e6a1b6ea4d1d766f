#include "app/model/window_sizing.hpp"

#include <algorithm>

namespace tallowmark {

WindowWidening widenWindow(const WindowFrame& current, bool fullScreen, const std::optional<WindowFrame>& screen,
                           std::int64_t width) {
    if (width <= 0) return {};
    const double wanted = static_cast<double>(width);
    if (current.width >= wanted) return {std::nullopt, true};
    if (fullScreen || !screen) return {};
    WindowFrame frame = current;
    frame.width = std::min(wanted, screen->width);
    const double screenRight = screen->x + screen->width;
    if (frame.x + frame.width > screenRight) frame.x = std::max(screenRight - frame.width, screen->x);
    return {frame, frame.width >= wanted};
}

}  // namespace tallowmark
