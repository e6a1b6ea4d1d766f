#include "app/model/window_sizing.hpp"

#include <gtest/gtest.h>

namespace tallowmark {
namespace {

// A window 500 wide at x 900 on a 1280-wide screen.
TEST(WindowSizing, TheWindowGrowsWithinItsScreenAndNeverShrinks) {
    const WindowFrame window{900, 50, 500, 700}, screen{0, 0, 1280, 800};
    struct Row {
        WindowFrame current;
        bool fullScreen;
        std::optional<WindowFrame> screen;
        std::int64_t width;
        std::optional<WindowFrame> frame;
        bool wideEnough;
    };
    const std::vector<Row> rows = {
        {window, false, screen, 400, std::nullopt, true},
        {window, false, screen, 500, std::nullopt, true},
        {window, false, screen, 800, WindowFrame{480, 50, 800, 700}, true},  // pulled left to stay on the screen
        {{100, 50, 500, 700}, false, screen, 800, WindowFrame{100, 50, 800, 700}, true},
        {window, false, screen, 2000, WindowFrame{0, 50, 1280, 700}, false},
        {{-200, 0, 300, 700}, false, WindowFrame{-300, 0, 1280, 800}, 2000, WindowFrame{-300, 0, 1280, 700}, false},
        {window, true, screen, 800, std::nullopt, false},
        {window, false, std::nullopt, 800, std::nullopt, false},
        {window, false, screen, 0, std::nullopt, false},
        {window, false, screen, -5, std::nullopt, false},
    };
    for (const Row& row : rows) {
        const WindowWidening widening = widenWindow(row.current, row.fullScreen, row.screen, row.width);
        EXPECT_EQ(widening.frame, row.frame) << row.width;
        EXPECT_EQ(widening.wideEnough, row.wideEnough) << row.width;
    }
}

}  // namespace
}  // namespace tallowmark
